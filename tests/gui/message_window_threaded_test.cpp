// The message window takes Qt's messages from every thread while it holds the
// handler, keeps the last 100, and gives the handler back when it goes, even
// while other threads are logging.
#include <gtest/gtest.h>

#include <QSet>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "gui/main_window.h"
#include "gui/message_window.h"
#include "support/loopback_streams.h"

namespace {

// Stands for the handler the window replaces (start-up's stdout handler).
class FallbackHandler {
  public:
    FallbackHandler() {
        instance_ = this;
        previous_ = qInstallMessageHandler(&Handle);
    }
    ~FallbackHandler() {
        qInstallMessageHandler(previous_);
        instance_ = nullptr;
    }
    QStringList Messages() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

  private:
    static void Handle(QtMsgType, const QMessageLogContext&, const QString& message) {
        std::lock_guard<std::mutex> lock(instance_->mutex_);
        instance_->messages_.append(message);
    }
    static FallbackHandler* instance_;
    QtMessageHandler previous_;
    std::mutex mutex_;
    QStringList messages_;
};
FallbackHandler* FallbackHandler::instance_ = nullptr;

QSet<QString> ShownLines(const MessageWindow& window) {
    const QStringList lines = window.GetShownText().split('\n', Qt::SkipEmptyParts);
    return QSet<QString>(lines.begin(), lines.end());
}

TEST(MessageWindowTest, TakesMessagesOfEveryThreadAndKeepsTheLastHundred) {
    FallbackHandler fallback;
    auto window = std::make_unique<MessageWindow>();
    window->TakeOverQtMessages();
    EXPECT_EQ(MessageWindow::Instance(), window.get());

    QSet<QString> expected;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 20; ++i)
            expected.insert(QString("thread %1 message %2").arg(t).arg(i));
        threads.emplace_back([t] {
            for (int i = 0; i < 20; ++i)
                qDebug("thread %d message %d", t, i);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_TRUE(SpinUntil([&] { return ShownLines(*window) == expected; }));

    for (int i = 0; i < 150; ++i)
        qWarning("line %d", i);
    QStringList last_hundred;
    for (int i = 50; i < 150; ++i)
        last_hundred.append(QString("line %1").arg(i));
    EXPECT_EQ(window->GetMessages(), last_hundred);
    ASSERT_TRUE(SpinUntil([&] { return window->GetShownText() == last_hundred.join('\n'); }));

    window.reset();
    EXPECT_EQ(MessageWindow::Instance(), nullptr);
    qDebug("after the window");
    EXPECT_EQ(fallback.Messages(), QStringList{"after the window"});
}

TEST(MessageWindowTest, HandlerGoesBackWhileOtherThreadsLog) {
    FallbackHandler fallback;
    auto window = std::make_unique<MessageWindow>();
    window->TakeOverQtMessages();
    std::atomic<bool> window_gone{false};
    std::atomic<int> logged{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            while (!window_gone.load()) {
                qDebug("busy %d", t);
                logged.fetch_add(1);
            }
            qDebug("final %d", t);
        });
    }
    ASSERT_TRUE(SpinUntil([&] { return logged.load() > 300; }));
    window.reset();
    window_gone.store(true);
    for (std::thread& thread : threads)
        thread.join();
    const QStringList after = fallback.Messages();
    for (int t = 0; t < 3; ++t)
        EXPECT_TRUE(after.contains(QString("final %1").arg(t))) << t;
}

TEST(MessageWindowTest, MainWindowHoldsTheHandlerForItsLifetime) {
    // The main window's streams are those of the process-wide settings.
    HostSettings* host = Settings::GlobalSettings()->GetHostSettingsReference();
    host->SetOutputSocketSettings(LoopbackStream(44205));
    host->SetInputSocketSettings(LoopbackStream(44205));
    FallbackHandler fallback;
    {
        MainWindow window;
        EXPECT_EQ(MessageWindow::Instance(), window.GetMessageWindow());
        qDebug("while the main window is open");
        EXPECT_EQ(window.GetMessageWindow()->GetMessages(), QStringList{"while the main window is open"});
    }
    qDebug("after the main window");
    EXPECT_EQ(fallback.Messages(), QStringList{"after the main window"});
}

}  // namespace
