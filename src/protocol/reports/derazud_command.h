#pragma once
// A command record: four u16, a list of u64 arguments and a list of texts.

#include <cstdint>

struct derazud_command_t {
    uint16_t command_id;
    uint16_t sequence;
    uint16_t source_id;
    uint16_t target_id;
    int8_t argument_count;  // below 1: no arguments
    uint64_t* arguments;    // heap array, owned
    int8_t text_count;      // below 1: no texts
    char** texts;           // heap array of heap texts, owned
};

// Returns the bytes read; -1 when anything would run past length (a count
// too large for the buffer, a text without its zero and three trailing bytes
// inside it); 0 when memory runs out. On -1 and 0 the record is left with
// counts 0 and no arrays. Decode into a clean or cleaned record.
int DerAzudCommand_FromBuff(derazud_command_t* record, const uint8_t* buffer, int length);
// The buffer must hold DerAzudCommand_EncodedSize(record) bytes. A null text
// is written as the empty text.
int DerAzudCommand_ToBuff(uint8_t* buffer, const derazud_command_t* record);
int DerAzudCommand_EncodedSize(const derazud_command_t* record);
// Frees the arguments, every text and the text array; counts become 0.
void DerAzudCommand_Cleanup(derazud_command_t* record);
