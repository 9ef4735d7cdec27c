// Both pages through their controls, against the scripted echo stack and the table resolver.

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "ping/ping_page.h"
#include "settings/host_history.h"
#include "tests/support/scripted_echo_stack.h"
#include "tests/support/table_resolver.h"
#include "trace/trace_route_page.h"

namespace hopwise::test {
namespace {

ScriptedEchoStack::Responder Answer(std::uint8_t time,
                                    HostAddress from = HostAddress::ipv4(Ip("10.1.0.1")))
{
    return [=](const EchoRequest&, void* reply, std::uint32_t size) {
        WriteEchoReply(
            reply, size,
            {.address = from.toIpv4(), .roundTripTime = 2u * time, .ttl = time, .responder = from});
        return 0u;
    };
}

// The longest IPv6 text without a zone: it fits neither the Dest IP line nor the IP column as
// the templates size them for a dotted address.
const char* const kLong6 = "fd00:1234:5678:9abc:def0:1234:5678:9abc";
// Where the hosts of the runs below resolve to; any other resolves nowhere.
const QMap<QString, QString> kDestinations{
    {"target", "10.0.0.9"}, {"target6", "fd00::9"}, {"fe80::1%lo", "fe80::1%lo"}, {kLong6, kLong6}};

// The design's control ids; a run's bound is Max Hop on the trace route page, Num Trials on ping.
struct PageKind {
    bool trace;
    int go, cancel, host, status, destIp, results, bound;
    std::vector<int> inputs; // disabled during a run
};
const PageKind kTrace{
    true, 1001, 1024, 1008, 1009, 1007, 1002, 1003, {1001, 1003, 1004, 1008, 1028}};
const PageKind kPing{false, 1017, 1027, 1018, 1022, 1021, 1023, 1003, {1017, 1019, 1003, 1018}};

struct PageTest : ::testing::Test {
    PageTest()
    {
        store.SetRegistryKey(u"Velmor");
        store.SetAppName(u"Hopwise");
        resolver.addName("target", {Ip("10.0.0.9")});
        resolver.addHost("target6", {Ip6("fd00::9")});
    }

    void open(const PageKind& pageKind)
    {
        kind = &pageKind;
        page = kind->trace ? std::unique_ptr<ProbePage>(std::make_unique<CTraceRoutePage>(store))
                           : std::make_unique<CPingPage>(store);
        page->setMessageBox([this](QWidget*, const QString& text) {
            boxes << (status()->isHidden() ? text : "shown after the run ended");
        });
        EXPECT_TRUE(page->Create(&parent));
    }

    template <class Widget = QWidget> Widget* at(int id) const
    {
        return page->findChild<Widget*>(QString::number(id));
    }
    QLabel* status() const { return at<QLabel>(kind->status); }
    // One text per item, its columns joined; a child's after "> ".
    QStringList results() const
    {
        QStringList texts;
        for (QTreeWidgetItemIterator it(at<QTreeWidget>(kind->results)); *it != nullptr; ++it) {
            const QStringList columns{(*it)->text(0), (*it)->text(1), (*it)->text(2)};
            texts << ((*it)->parent() != nullptr ? "> " : "") + columns.join(' ').trimmed();
        }
        return texts;
    }

    void go(const QString& host, const QString& bound)
    {
        at<QComboBox>(kind->host)->setEditText(host);
        at<QLineEdit>(kind->bound)->setText(bound);
        at<QPushButton>(kind->go)->click();
    }
    void run(const QString& host, const QString& bound)
    {
        go(host, bound);
        ASSERT_TRUE(QTest::qWaitFor([this] { return at(kind->go)->isEnabled(); }));
    }

    QStringList boxes;
    QTemporaryDir dir;
    SettingsStore store{dir.filePath("Hopwise.reg").toStdString()};
    ScriptedEchoStack stack;
    ScopedEchoStack installStack{stack};
    TableResolver resolver;
    ScopedHostResolver installResolver{resolver};
    QWidget parent;
    const PageKind* kind = nullptr;
    std::unique_ptr<ProbePage> page;
};

struct RunCase {
    const PageKind* kind;
    void (*arrange)(PageTest&);
    const char* host;
    const char* bound;
    const char* shown; // the bound's field after GO
    int rows;
    QStringList topRows;
    QString box;
    const char* history; // entries joined by ","
};

class RunTest : public PageTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(RunTest, showsTheResultsAndEndsDone)
{
    const RunCase& c = GetParam();
    c.arrange(*this);
    open(*c.kind);
    run(c.host, c.bound);
    EXPECT_EQ(at<QLineEdit>(c.kind->bound)->text(), c.shown);
    EXPECT_EQ(results().mid(0, c.topRows.size()), c.topRows);
    EXPECT_EQ(results().size(), c.rows);
    EXPECT_EQ(boxes.join('\n'), c.box);
    // The Dest IP line shows whole, or fits its place with the address shortened and the whole
    // as its tool tip; a screen reader hears it whole.
    const QLabel& dest = *at<QLabel>(c.kind->destIp);
    const QString destination = "Dest IP: " + kDestinations.value(c.host);
    EXPECT_EQ(dest.text() == destination ? dest.text() : dest.toolTip(), destination);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(at(c.kind->destIp))->text(QAccessible::Name),
              destination);
    EXPECT_LE(dest.fontMetrics().horizontalAdvance(dest.text()), dest.contentsRect().width());
    // Of a shortened line, "Dest IP: " and the address's first group stay.
    EXPECT_TRUE(dest.text().startsWith(destination.section(':', 0, 1)))
        << dest.text().toStdString();
    // No reply's cell is cut short (the hop tree sizes its column once shown: UseTest).
    auto& view = *at<QTreeWidget>(c.kind->results);
    for (QTreeWidgetItemIterator it(&view); !c.kind->trace && *it != nullptr; ++it) {
        for (int column = 0; column < view.columnCount(); ++column) {
            EXPECT_LE(view.fontMetrics().horizontalAdvance((*it)->text(column)),
                      view.columnWidth(column))
                << (*it)->text(column).toStdString();
        }
    }
    EXPECT_EQ(status()->text(), "Done");
    EXPECT_TRUE(!status()->isHidden() && at(c.kind->cancel)->isHidden());
    QStringList history;
    for (const std::u16string& entry :
         LoadHostHistory(store, c.kind->trace ? u"Hopwise" : u"Ping")) {
        history << QString::fromStdU16String(entry);
    }
    EXPECT_EQ(history.join(','), c.history);
    EXPECT_EQ(at<QComboBox>(c.kind->host)->count(), history.size());
}

void Nothing(PageTest&) {}
void NamedRouterThenSilence(PageTest& t)
{
    t.stack.answerNext(Answer(3));
    // The silent hop comes right after an answered one: it must not show that hop's time.
    t.stack.answerTtl(3, {.address = Ip("10.0.0.9"), .roundTripTime = 5});
    t.resolver.addAddress(Ip("10.1.0.1"), "r\xc3\xa4uter.example");
    t.store.WriteSettingInt(u"HopwiseDialog", u"m_bResolveIP", 1);
    RecordHost(t.store, u"Hopwise", u"TARGET.example");
}
void Ipv6RouterThenSilence(PageTest& t)
{
    t.stack.answerNext(Answer(3, Ip6("fd00::1")));
    t.stack.answerTtl(3, {.roundTripTime = 5, .responder = Ip6("fd00::9")});
    t.resolver.addAddress(Ip6("fd00::1"), "router6.example");
    t.store.WriteSettingInt(u"HopwiseDialog", u"m_bResolveIP", 1);
}
void Ipv6Replies(PageTest& t)
{
    t.stack.answerAll({.roundTripTime = 4, .ttl = 57, .responder = Ip6(kLong6)});
}
void FiftyNineReplies(PageTest& t)
{
    for (std::uint8_t i = 1; i < 60; ++i) {
        t.stack.answerNext(Answer(i));
    }
    RecordHost(t.store, u"Ping", u"targ");
}

const QString kNoName = "Can't resolve name";
const QStringList kHops{"10.1.0.1 [6 ms]", "> r\xc3\xa4uter.example", "No Response [0 ms]"};
const QStringList kRows{"No Response 0 0", "10.1.0.1 118 59", "10.1.0.1 116 58"};
const QStringList kHops6{"fd00::1 [6 ms]", "> router6.example", "No Response [0 ms]",
                         "fd00::9 [5 ms]"};

// History: a host goes in unless an entry begins with it, in any case. Max Hop text that is no
// number in 0..16960 keeps the last position, the stored 20. Num Trials -1 reads "inf".
INSTANTIATE_TEST_SUITE_P(
    Cases, RunTest,
    ::testing::Values(
        RunCase{
            &kTrace, NamedRouterThenSilence, "target", "20", "20", 4, kHops, {}, "TARGET.example"},
        RunCase{&kTrace, Nothing, "target", "0", "0", 0, {}, {}, "target"},
        RunCase{&kTrace, Nothing, "target", " 4 ", " 4 ", 3, {}, {}, "target"},
        RunCase{&kTrace, Nothing, "target", "16961", "16961", 19, {}, {}, "target"},
        RunCase{&kTrace, Nothing, "", "5", "5", 0, {}, kNoName, ""},
        RunCase{&kTrace, Ipv6RouterThenSilence, "target6", "20", "20", 4, kHops6, {}, "target6"},
        RunCase{&kTrace, Nothing, "fe80::1%lo", "0", "0", 0, {}, {}, "fe80::1%lo"},
        RunCase{&kPing, FiftyNineReplies, "target", "60x", "60", 50, kRows, {}, "targ,target"},
        RunCase{&kPing, Nothing, "target6", "1", "1", 1, {"No Response 0 0"}, {}, "target6"},
        RunCase{&kPing, Ipv6Replies, kLong6, "2", "2", 2, {kLong6 + QString(" 4 57")}, {}, kLong6},
        RunCase{&kPing, Nothing, "nowhere", "INFinity", "inf", 0, {}, kNoName, "nowhere"},
        RunCase{&kPing, Nothing, "nowhere", "-1", "inf", 0, {}, kNoName, "nowhere"},
        RunCase{&kPing, Nothing, "nowhere", "  +12x", "12", 0, {}, kNoName, "nowhere"},
        RunCase{
            &kPing, Nothing, "nowhere", "99999999999", "2147483647", 0, {}, kNoName, "nowhere"}));

// Results a person can use: a click focuses the view, arrows move, Ctrl+C copies the selected
// row in its own text, Shift+F10 opens the menu whose "Copy All" adds the run's header; Enter on
// a focused GO starts the run. A long name widens the hop tree's column and scrolls it.
struct UseCase {
    const PageKind* kind;
    void (*arrange)(PageTest&);
    const char* host;
    const char* bound;
    QString firstRow, secondRow; // copied
    QString settings;
    QString allRows; // below the header
};

class UseTest : public PageTest, public ::testing::WithParamInterface<UseCase> {};

const QString kLongName = QString(70, 'n') + ".example";

TEST_P(UseTest, rowsAreSelectedAndCopiedByMouseAndKeys)
{
    const UseCase& c = GetParam();
    c.arrange(*this);
    open(*c.kind);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    at<QComboBox>(kind->host)->setEditText(c.host);
    at<QLineEdit>(kind->bound)->setText(c.bound);
    at(kind->go)->setFocus();
    QTest::keyClick(at(kind->go), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !status()->isHidden(); })) << "Enter pressed no GO";

    auto* view = at<QTreeWidget>(kind->results);
    view->expandAll();
    const QRect first = view->visualItemRect(view->topLevelItem(0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, first.topLeft() + QPoint(30, 2));
    EXPECT_TRUE(view->hasFocus());
    QClipboard& clipboard = *QApplication::clipboard();
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard.text().toStdString(), c.firstRow.toStdString());
    QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard.text().toStdString(), c.secondRow.toStdString());

    QTest::keyClick(view, Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(page->resultMenu() != nullptr && page->resultMenu()->isVisible());
    QStringList items;
    for (const QAction* action : page->resultMenu()->actions()) {
        items << action->text();
    }
    EXPECT_EQ(items, QStringList({"Copy", "Copy All"})); // the frame adds the other page's
    page->resultMenu()->actions().at(1)->trigger();
    const QString header = QString("Host: ") + c.host +
                           "\nAddress: " + kDestinations.value(c.host) +
                           "\nDate: " + QDate::currentDate().toString(Qt::ISODate) + " ";
    EXPECT_TRUE(clipboard.text().startsWith(header)) << clipboard.text().toStdString();
    EXPECT_TRUE(clipboard.text().endsWith("\nSettings: " + c.settings + "\n\n" + c.allRows))
        << clipboard.text().toStdString();
    if (kind->trace) {
        EXPECT_GT(view->horizontalScrollBar()->maximum(), 0);
        EXPECT_GE(view->columnWidth(0), view->fontMetrics().horizontalAdvance(kLongName));
    }
}

void LongNamedRouter(PageTest& t)
{
    t.stack.answerNext(Answer(3));
    t.resolver.addAddress(Ip("10.1.0.1"), kLongName.toStdString());
    t.store.WriteSettingInt(u"HopwiseDialog", u"m_bResolveIP", 1);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, UseTest,
    ::testing::Values(
        UseCase{&kTrace, LongNamedRouter, "target", "3", "10.1.0.1 [6 ms]\n" + kLongName + "\n",
                kLongName + "\n", "Max Hop 3, Timeout (ms) 1000, Resolve IP 1",
                "10.1.0.1 [6 ms]\n" + kLongName + "\nNo Response [0 ms]\n"},
        UseCase{&kPing, FiftyNineReplies, "target", "2", "10.1.0.1\t4\t2\n", "10.1.0.1\t2\t1\n",
                "Max Hop 20, Num Trials 2, Timeout (ms) 1000, Rows Kept 50",
                "IP\tTime\tTTL\n10.1.0.1\t4\t2\n10.1.0.1\t2\t1\n"},
        UseCase{&kPing, Ipv6Replies, kLong6, "2", kLong6 + QString("\t4\t57\n"),
                kLong6 + QString("\t4\t57\n"),
                "Max Hop 20, Num Trials 2, Timeout (ms) 1000, Rows Kept 50",
                "IP\tTime\tTTL\n" + QString(kLong6) + "\t4\t57\n" + kLong6 + "\t4\t57\n"}));

class CancelTest : public PageTest,
                   public ::testing::WithParamInterface<std::tuple<const PageKind*, bool>> {};

TEST_P(CancelTest, cancelOrEscapeEndsTheRunCancelledAndTheNextGoClearsIt)
{
    stack.waitOutTimeouts(true); // each probe takes its whole second: the run is slow to end
    open(*std::get<0>(GetParam()));
    parent.show(); // Escape works where the user could press it: in a shown, focused page
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    go("target", kind->trace ? "20" : "inf");
    ASSERT_TRUE(QTest::qWaitFor([&] { return stack.callCount() == 1; }));
    EXPECT_TRUE(std::none_of(kind->inputs.begin(), kind->inputs.end(),
                             [&](int id) { return at(id)->isEnabled(); }));
    EXPECT_TRUE(status()->isHidden() && !at(kind->cancel)->isHidden() &&
                at(kind->cancel)->isEnabled());
    if (std::get<1>(GetParam())) {
        at(kind->results)->setFocus();
        QTest::keyClick(at(kind->results), Qt::Key_Escape);
    } else {
        at<QPushButton>(kind->cancel)->click();
    }
    EXPECT_FALSE(at(kind->cancel)->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return at(kind->go)->isEnabled(); }));
    EXPECT_EQ(status()->text(), "Cancelled");
    run("target", "1");
    EXPECT_EQ(status()->text(), "Done");
}

INSTANTIATE_TEST_SUITE_P(Pages, CancelTest,
                         ::testing::Combine(::testing::Values(&kTrace, &kPing), ::testing::Bool()));

// Both pages running at once, torn down together at a point where a worker waits. Under the
// sanitizers a race, a use after free or a hang here is a fault.
struct CloseCase {
    const char* name;
    bool echoesWait; // each echo waits out its 30 s timeout
    const char* host;
    int loopMs;        // the event loop runs this long first; 0: never, notices stay unhandled
    bool closeFromBox; // the message box (raised inside a notice's handler) ends both pages
    friend void PrintTo(const CloseCase& c, std::ostream* os) { *os << c.name; }
};

class CloseTest : public PageTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseTest, bothPagesEndPromptlyAndSafely)
{
    const CloseCase& c = GetParam();
    stack.waitOutTimeouts(c.echoesWait);
    store.WriteSettingInt(u"HopwiseDialog", u"m_iHopTimeout", 30000);
    open(kTrace);
    go(c.host, "16960");
    if (c.echoesWait) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return stack.callCount() == 1; })); // a 30 s echo
    }
    std::unique_ptr<ProbePage> trace = std::move(page);
    open(kPing);
    go(c.host, "inf");
    const auto end = [&] {
        page.reset();
        trace.reset();
    };
    int boxes = 0;
    if (c.closeFromBox) {
        const auto endFromBox = [&](QWidget*, const QString&) {
            ++boxes;
            end();
        };
        page->setMessageBox(endFromBox);
        trace->setMessageBox(endFromBox);
    }
    if (c.loopMs > 0) {
        EXPECT_EQ(QTest::qWaitFor([&] { return page == nullptr; }, c.loopMs), c.closeFromBox);
    }
    const auto start = std::chrono::steady_clock::now();
    end();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2))
        << "shutdown waited for the echo or the window";
    QCoreApplication::processEvents(); // wake-ups still pending for the pages come to nothing
    EXPECT_EQ(boxes, c.closeFromBox ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Points, CloseTest,
    ::testing::Values(CloseCase{"EchoInFlightAndNoticeUnhandled", true, "target", 0, false},
                      CloseCase{"NoticesBackToBack", false, "target", 100, false},
                      CloseCase{"FromInsideAHandler", false, "nowhere", 5000, true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hopwise::test
