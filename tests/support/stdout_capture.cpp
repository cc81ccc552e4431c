#include "support/stdout_capture.h"

#include <unistd.h>

#include <QString>
#include <iostream>

StdoutCapture::StdoutCapture() {
    // Whatever was buffered before belongs to the real output, not to the capture.
    std::cout.flush();
    fflush(stdout);
    file_ = tmpfile();
    if (file_ == nullptr)
        return;
    saved_fd_ = dup(STDOUT_FILENO);
    if (saved_fd_ < 0 || dup2(fileno(file_), STDOUT_FILENO) < 0) {
        if (saved_fd_ >= 0)
            close(saved_fd_);
        saved_fd_ = -1;
        fclose(file_);
        file_ = nullptr;
        return;
    }
    active_ = true;
}

StdoutCapture::~StdoutCapture() {
    Stop();
}

std::string StdoutCapture::Stop() {
    if (stopped_)
        return text_;
    stopped_ = true;
    if (!active_)
        return text_;
    std::cout.flush();
    fflush(stdout);
    dup2(saved_fd_, STDOUT_FILENO);
    close(saved_fd_);
    saved_fd_ = -1;
    rewind(file_);
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), file_)) > 0)
        text_.append(buffer, got);
    fclose(file_);
    file_ = nullptr;
    active_ = false;
    return text_;
}

static void PrintQtMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
    printf("%s\n", message.toUtf8().constData());
    fflush(stdout);
}

QtMessagesToStdout::QtMessagesToStdout() : previous_(qInstallMessageHandler(PrintQtMessage)) {}

QtMessagesToStdout::~QtMessagesToStdout() {
    qInstallMessageHandler(previous_);
}
