// The window over a dual-stack chain of three routers, as root (the raw ICMPv6 socket). The
// main thread joins the client's namespace before GO, so the workers it starts are inside too;
// names come from a table, so no lookup leaves the process.

#include <QCheckBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "app/hopwise_app.h"
#include "res/resource_ids.h"
#include "tests/support/net_namespace.h"
#include "tests/support/table_resolver.h"

namespace hopwise::test {
namespace {

// One line per row: its cells but the ping page's round trip, a hop's time reading N.
std::string Rows(const ProbePage& page)
{
    QStringList rows;
    for (QTreeWidgetItemIterator it(page.findChild<QTreeWidget*>()); *it != nullptr; ++it) {
        QString text = QStringList{(*it)->text(0), (*it)->text(2)}.join(' ').trimmed();
        rows << text.replace(QRegularExpression(R"(\[\d+ ms\])"), "[N ms]");
    }
    return rows.join('\n').toStdString();
}

TEST(Ipv6Window, PagesShowTheIpv6Route)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    RouterChain chain(3, 219, RouterChain::Stack::Dual);
    TableResolver resolver;
    resolver.addHost("only6.test", {*ParseIpv6Literal("fd00:219:3::2")});
    resolver.addAddress(*ParseIpv6Literal("fd00:219:1::2"), "r2.test");
    ScopedHostResolver installResolver{resolver};
    EnterNamespace inside(chain.client());
    CHopwiseApp app;
    ASSERT_TRUE(app.InitInstance());
    CMainFrame& frame = *app.mainWindow();
    CTraceRoutePage& trace = frame.tracePage();
    CPingPage& ping = frame.pingPage();
    // A modal box would hold the run until the test's time is up; "Can't resolve name" is a fault.
    QStringList boxes;
    for (ProbePage* page : {static_cast<ProbePage*>(&trace), static_cast<ProbePage*>(&ping)})
        page->setMessageBox([&boxes](QWidget*, const QString& text) { boxes << text; });

    trace.findChild<QCheckBox*>(QString::number(res::kTraceResolveIp))->setChecked(true);
    trace.runFor("only6.test");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !trace.isRunning(); }, 20000));
    EXPECT_EQ(Rows(trace), "fd00:219::2 [N ms]\nfd00:219:1::2 [N ms]\nr2.test\n"
                           "fd00:219:2::2 [N ms]\nfd00:219:3::2 [N ms]");

    ping.findChild<QLineEdit*>(QString::number(res::kPingNumTrials))->setText("3");
    ping.runFor("fd00:219:3::2");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ping.isRunning(); }, 20000));
    EXPECT_EQ(Rows(ping), "fd00:219:3::2 61\nfd00:219:3::2 61\nfd00:219:3::2 61");
    EXPECT_EQ(boxes.join(", ").toStdString(), "");
    frame.close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return app.mainWindow() == nullptr; }));
}

} // namespace
} // namespace hopwise::test
