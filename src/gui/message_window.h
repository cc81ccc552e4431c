#pragma once
// The user interface's message log: while it holds Qt's message handler,
// every Qt message of the process, from any thread, lands here instead of on
// stdout. It keeps the last 100 messages.
//
// Threads: HandleMessage runs in whichever thread logs; it appends under
// messages_mutex_ and asks the GUI thread, once per batch, to show the new
// text. Everything else runs in the GUI thread.

#include <QMutex>
#include <QPlainTextEdit>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <QtGlobal>
#include <deque>

class MessageWindow : public QWidget {
    Q_OBJECT

  public:
    static constexpr size_t kMaxMessages = 100;

    explicit MessageWindow(QWidget* parent = nullptr);
    // Gives the handler back to the one it took it from.
    ~MessageWindow() override;

    // The window that holds the handler, or null.
    static MessageWindow* Instance();

    // Installs this window's handler; the one it replaces receives the
    // messages again once the window is gone.
    void TakeOverQtMessages();

    // The messages kept, oldest first.
    QStringList GetMessages() const;
    // What the window shows (as of its last refresh in the GUI thread).
    QString GetShownText() const { return text_->toPlainText(); }

  private slots:
    void Refresh();

  private:
    static void HandleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message);
    void Append(const QString& message);

    QPlainTextEdit* text_;
    // Guards messages_ and refresh_pending_: taken by every logging thread and
    // by the GUI thread's refresh.
    mutable QMutex messages_mutex_;
    std::deque<QString> messages_;
    bool refresh_pending_ = false;
    // GUI thread only.
    bool holds_handler_ = false;
};
