#include "protocol/reports/derazud_command.h"

#include <cstdlib>

#include "base/byte_order.h"
#include "protocol/reports/derazud_codec.h"

namespace {

constexpr int kHeadSize = 9;  // four u16 and the argument count
constexpr int kArgumentSize = 8;

int ReadArgument(uint64_t* argument, const uint8_t* buffer) {
    *argument = wire::read_be64(buffer);
    return kArgumentSize;
}

int WriteArgument(uint8_t* buffer, const uint64_t* argument) {
    wire::write_be64(buffer, *argument);
    return kArgumentSize;
}

int Refuse(derazud_command_t* record, int result) {
    DerAzudCommand_Cleanup(record);
    return result == derazud_codec::kNoMemory ? 0 : -1;
}

}  // namespace

int DerAzudCommand_FromBuff(derazud_command_t* record, const uint8_t* buffer, int length) {
    record->arguments = nullptr;
    record->texts = nullptr;
    record->text_count = 0;
    if (length < kHeadSize) {
        return Refuse(record, derazud_codec::kRefused);
    }
    record->command_id = wire::read_be16(buffer);
    record->sequence = wire::read_be16(buffer + 2);
    record->source_id = wire::read_be16(buffer + 4);
    record->target_id = wire::read_be16(buffer + 6);
    record->argument_count = static_cast<int8_t>(buffer[8]);
    int offset = kHeadSize;
    const int arguments = derazud_codec::ReadList(buffer + offset, length - offset, record->argument_count,
                                                  kArgumentSize, &record->arguments, ReadArgument);
    if (arguments < 0) {
        return Refuse(record, arguments);
    }
    offset += arguments;
    if (length - offset < 1) {
        return Refuse(record, derazud_codec::kRefused);
    }
    const auto text_count = static_cast<int8_t>(buffer[offset]);
    offset += 1;
    if (text_count > 0) {
        record->texts = static_cast<char**>(std::calloc(static_cast<size_t>(text_count), sizeof(char*)));
        if (record->texts == nullptr) {
            return Refuse(record, derazud_codec::kNoMemory);
        }
        // Counted as each text arrives, so a refusal frees exactly those read.
        for (int i = 0; i < text_count; ++i) {
            const int read = derazud_codec::ReadText(buffer + offset, length - offset, &record->texts[i]);
            if (read < 0) {
                return Refuse(record, read);
            }
            record->text_count = static_cast<int8_t>(i + 1);
            offset += read;
        }
    }
    record->text_count = text_count;
    return offset;
}

int DerAzudCommand_ToBuff(uint8_t* buffer, const derazud_command_t* record) {
    wire::write_be16(buffer, record->command_id);
    wire::write_be16(buffer + 2, record->sequence);
    wire::write_be16(buffer + 4, record->source_id);
    wire::write_be16(buffer + 6, record->target_id);
    buffer[8] = static_cast<uint8_t>(derazud_codec::CountToWrite(record->argument_count, record->arguments));
    int offset = kHeadSize;
    offset += derazud_codec::WriteList(buffer + offset,
                                       derazud_codec::ItemsPresent(record->argument_count, record->arguments),
                                       record->arguments, WriteArgument);
    buffer[offset] = static_cast<uint8_t>(derazud_codec::CountToWrite(record->text_count, record->texts));
    offset += 1;
    const int texts = derazud_codec::ItemsPresent(record->text_count, record->texts);
    for (int i = 0; i < texts; ++i) {
        offset += derazud_codec::WriteText(buffer + offset, record->texts[i]);
    }
    return offset;
}

int DerAzudCommand_EncodedSize(const derazud_command_t* record) {
    int size = kHeadSize + 1 +
               kArgumentSize * derazud_codec::ItemsPresent(record->argument_count, record->arguments);
    const int texts = derazud_codec::ItemsPresent(record->text_count, record->texts);
    for (int i = 0; i < texts; ++i) {
        size += derazud_codec::TextSize(record->texts[i]);
    }
    return size;
}

void DerAzudCommand_Cleanup(derazud_command_t* record) {
    if (record->texts != nullptr) {
        for (int i = 0; i < record->text_count; ++i) {
            std::free(record->texts[i]);
        }
    }
    derazud_codec::FreeList(&record->texts);
    derazud_codec::FreeList(&record->arguments);
    record->argument_count = 0;
    record->text_count = 0;
}
