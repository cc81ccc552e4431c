#include "gui/message_window.h"

#include <QMetaObject>
#include <QVBoxLayout>

#include "base/thread_annotations.h"

// Guards instance_ and previous_handler_. The handler holds it while it adds a
// message to the window, so the window cannot go in the middle of that.
static QMutex instance_mutex_;
static MessageWindow* instance_ = nullptr;
static QtMessageHandler previous_handler_ = nullptr;
// True while this thread adds a message to the window (and so holds
// instance_mutex_): a message Qt logs from within goes to the previous handler.
static thread_local bool handling_message_ = false;

MessageWindow::MessageWindow(QWidget* parent) : QWidget(parent), text_(new QPlainTextEdit(this)) {
    text_->setReadOnly(true);
    text_->setMaximumBlockCount(static_cast<int>(kMaxMessages));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(text_);
}

MessageWindow::~MessageWindow() {
    AnnotatedMutexLocker locker(&instance_mutex_);
    if (holds_handler_) {
        qInstallMessageHandler(previous_handler_);
        instance_ = nullptr;
    }
}

MessageWindow* MessageWindow::Instance() {
    AnnotatedMutexLocker locker(&instance_mutex_);
    return instance_;
}

void MessageWindow::TakeOverQtMessages() {
    AnnotatedMutexLocker locker(&instance_mutex_);
    if (holds_handler_ || instance_ != nullptr)
        return;
    instance_ = this;
    holds_handler_ = true;
    previous_handler_ = qInstallMessageHandler(&MessageWindow::HandleMessage);
}

void MessageWindow::HandleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (handling_message_) {
        if (previous_handler_ != nullptr)
            previous_handler_(type, context, message);
        return;
    }
    QtMessageHandler fallback = nullptr;
    {
        AnnotatedMutexLocker locker(&instance_mutex_);
        if (instance_ != nullptr) {
            handling_message_ = true;
            instance_->Append(message);
            handling_message_ = false;
            return;
        }
        fallback = previous_handler_;
    }
    // A message that raced the window's destruction.
    if (fallback != nullptr)
        fallback(type, context, message);
}

void MessageWindow::Append(const QString& message) {
    AnnotatedMutexLocker locker(&messages_mutex_);
    messages_.push_back(message);
    while (messages_.size() > kMaxMessages)
        messages_.pop_front();
    if (refresh_pending_)
        return;
    refresh_pending_ = true;
    QMetaObject::invokeMethod(this, "Refresh", Qt::QueuedConnection);
}

QStringList MessageWindow::GetMessages() const {
    AnnotatedMutexLocker locker(&messages_mutex_);
    return QStringList(messages_.begin(), messages_.end());
}

void MessageWindow::Refresh() {
    const QStringList messages = [this] {
        AnnotatedMutexLocker locker(&messages_mutex_);
        refresh_pending_ = false;
        return QStringList(messages_.begin(), messages_.end());
    }();
    text_->setPlainText(messages.join('\n'));
}
