#pragma once

// The set-up both page tests share: a settings store on a private file, the scripted echo stack
// and the table resolver installed, a parent for the pages, and bounded waiting in the event
// loop.

#include <QAbstractButton>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "settings/host_history.h"
#include "res/stored_names.h"
#include "settings/settings_store.h"
#include "tests/support/scripted_echo_stack.h"
#include "tests/support/table_resolver.h"

namespace hopwise::test {

// Runs the event loop until done() holds or timeoutMs passed; yields done(). A real loop rather
// than QTest::qWaitFor, which sleeps between rounds and so handles about one synchronous
// notification per 10 ms.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    poll.start(1);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

template <class Widget> Widget* Find(const QWidget& page, int id)
{
    return page.findChild<Widget*>(QString::number(id));
}

inline QString Q(std::u16string_view text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

inline QStringList Items(const QComboBox& combo)
{
    QStringList items;
    for (int i = 0; i < combo.count(); ++i) {
        items << combo.itemText(i);
    }
    return items;
}

inline QStringList TopLevelTexts(const QTreeWidget& tree, int column = 0)
{
    QStringList texts;
    for (int i = 0; i < tree.topLevelItemCount(); ++i) {
        texts << tree.topLevelItem(i)->text(column);
    }
    return texts;
}

// A gate a scripted responder waits at (bounded) until the test opens it.
class Gate {
public:
    void open()
    {
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(5), [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

// A reply from `from` with the given round trip and reply TTL.
inline EchoReplyInfo Reply(const char* from, std::uint32_t roundTrip, std::uint8_t ttl = 64)
{
    EchoReplyInfo info;
    info.address = Ip(from);
    info.roundTripTime = roundTrip;
    info.ttl = ttl;
    return info;
}

inline ScriptedEchoStack::Responder Answer(EchoReplyInfo info, std::function<void()> during = {})
{
    return [info, during](const EchoRequest&, void* reply, std::uint32_t size) -> std::uint32_t {
        if (during) {
            during();
        }
        WriteEchoReply(reply, size, info);
        return 0;
    };
}

class PageTest : public ::testing::Test {
protected:
    PageTest()
    {
        m_store = makeStore();
        m_parent.resize(400, 400);
    }

    std::unique_ptr<SettingsStore> makeStore() const
    {
        auto store = std::make_unique<SettingsStore>(
            std::filesystem::path(m_dir.filePath(QStringLiteral("Hopwise.reg")).toStdString()));
        store->SetRegistryKey(kCompanyKey);
        store->SetAppName(kApplicationName);
        return store;
    }

    // Every message box shown: its text, and whether the run had already ended then.
    std::vector<QString> m_boxes;
    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> m_store;
    ScriptedEchoStack m_stack;
    ScopedEchoStack m_installStack{m_stack};
    TableResolver m_resolver;
    ScopedHostResolver m_installResolver{m_resolver};
    QWidget m_parent;
};

} // namespace hopwise::test
