// The route monitor window: what a model's samples show (rows, notes, the route change, the
// chart's description), Export and Copy against the table, the layout and probe method kept in
// the settings, and a session saved from a run and opened again, read-only.

#include <QAction>
#include <QApplication>
#include <QChartView>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "monitor/window/monitor_chart.h"
#include "monitor/window/monitor_table.h"
#include "monitor/window/monitor_window.h"
#include "settings/settings_store.h"
#include "tests/support/table_resolver.h"

namespace hopwise {
namespace {

HostAddress Address(const char* text)
{
    return ResolveHost(text, FamilyChoice::Any);
}

class MonitorWindowTest : public ::testing::Test {
protected:
    MonitorWindowTest() : m_store(m_dir.filePath("settings.reg").toStdString())
    {
        m_store.SetRegistryKey(u"Velmor");
        m_store.SetAppName(u"Hopwise");
        m_resolver.addAddress(Address("10.0.0.1"), "gateway.lan");
    }

    // Ten cycles over three hops, a second apart: hop 1 changes its responder at cycle 5, hop 2
    // answers every other probe while hop 3, the destination, answers them all. Hop 2's reports
    // carry two MPLS labels up to cycle 7, one after it.
    void feed(MonitorModel& model) const
    {
        model.setDestination(Address("10.0.0.3"));
        const std::int64_t start = QDateTime::currentMSecsSinceEpoch() - 10'000;
        for (std::int32_t cycle = 0; cycle < 10; ++cycle) {
            const std::int64_t clock = start + std::int64_t{cycle} * 1000;
            model.add({clock, cycle, 1, true, 1000, Address(cycle < 5 ? "10.0.0.1" : "10.0.0.11")});
            MonitorSample second{clock, cycle, 2, cycle % 2 == 1, 2000, Address("10.0.0.2")};
            if (second.answered && cycle < 7) {
                second.mpls.entries = {{{16001, 0, false, 1}, {24001, 5, true, 1}}};
                second.mpls.count = 2;
            } else if (second.answered) {
                second.mpls.entries = {{{24002, 5, true, 1}}};
                second.mpls.count = 1;
            }
            model.add(second);
            model.add(
                {clock, cycle, 3, true, std::uint32_t(3000 + 200 * cycle), Address("10.0.0.3")});
        }
    }

    static QString cell(const MonitorWindow& window, int row, int column,
                        int role = Qt::DisplayRole)
    {
        const QAbstractItemModel& table = *window.table().model();
        return table.data(table.index(row, column), role).toString();
    }

    QTemporaryDir m_dir;
    SettingsStore m_store;
    test::TableResolver m_resolver;
    test::ScopedHostResolver m_installResolver{m_resolver};
};

TEST_F(MonitorWindowTest, showsTheModelsHopsNotesRouteChangeAndChart)
{
    MonitorWindow window(m_store);
    feed(window.model());
    window.refresh();

    using Column = MonitorTableModel::Column;
    struct Row {
        const char* hop;
        const char* address;
        const char* loss;
        const char* received;
        const char* worst;
    };
    const Row rows[] = {
        {"1", "10.0.0.1\n10.0.0.11", "0.0", "10", "1.0"},
        {"2", "10.0.0.2", "50.0", "5", "2.0"},
        {"3", "10.0.0.3", "0.0", "10", "4.8"},
    };
    ASSERT_EQ(window.table().model()->rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(cell(window, row, Column::kHop), rows[row].hop);
        EXPECT_EQ(cell(window, row, Column::kAddress), rows[row].address);
        EXPECT_EQ(cell(window, row, Column::kLoss), rows[row].loss);
        EXPECT_EQ(cell(window, row, Column::kSent), "10");
        EXPECT_EQ(cell(window, row, Column::kReceived), rows[row].received);
        EXPECT_EQ(cell(window, row, Column::kWorst), rows[row].worst);
    }
    // The name comes back from the background and fills its cell.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        window.drain();
        return cell(window, 0, Column::kName).startsWith("gateway.lan\n");
    }));

    // The router that limits its replies is told apart from loss on the path.
    EXPECT_TRUE(window.notes().isVisibleTo(&window));
    EXPECT_EQ(window.notes().text(),
              "Hop 2 is a router limiting its replies, not loss on the path.");
    EXPECT_TRUE(cell(window, 1, Column::kLoss, Qt::ToolTipRole).contains("limits its replies"));
    // The label stack of the hop's last report, not the ones before it.
    EXPECT_TRUE(cell(window, 1, Column::kAddress, Qt::ToolTipRole)
                    .endsWith("\nMPLS: Lbl 24002 TC 5 S 1 TTL 1"));
    EXPECT_FALSE(cell(window, 1, Column::kAddress, Qt::ToolTipRole).contains("16001"));
    EXPECT_FALSE(cell(window, 2, Column::kAddress, Qt::ToolTipRole).contains("MPLS"));
    // Only the hop whose route changed is highlighted, and says from what to what.
    const auto highlighted = [&window](int row) {
        const QAbstractItemModel& table = *window.table().model();
        return !table.data(table.index(row, Column::kHop), Qt::BackgroundRole).isNull();
    };
    EXPECT_TRUE(highlighted(0));
    EXPECT_FALSE(highlighted(2));
    EXPECT_TRUE(cell(window, 0, Column::kHop, Qt::ToolTipRole).contains("10.0.0.1 to 10.0.0.11"));

    // The chart shows the destination until a row is picked.
    const QChartView& chart = window.chart().view();
    EXPECT_EQ(chart.accessibleDescription(),
              "Hop 3: last 4.8 ms, average 3.9 ms, loss 0.0 % over the shown range");
    window.table().selectRow(1);
    EXPECT_EQ(chart.accessibleDescription(),
              "Hop 2: last 2.0 ms, average 2.0 ms, loss 50.0 % over the shown range");
}

TEST_F(MonitorWindowTest, exportedCsvAndJsonAndCopiedTextAgreeWithTheTable)
{
    MonitorWindow window(m_store);
    feed(window.model());
    window.refresh();
    const QString csvPath = m_dir.filePath("table.csv");
    const QString jsonPath = m_dir.filePath("report.json");
    ASSERT_TRUE(window.exportTo(csvPath));
    ASSERT_TRUE(window.exportTo(jsonPath));
    const auto lines = [](const QString& path, const char* separator) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(file.readAll()).split(separator, Qt::SkipEmptyParts)
                   : QStringList();
    };
    const QStringList csv = lines(csvPath, "\r\n");
    QList<QJsonObject> hops;
    for (const QString& line : lines(jsonPath, "\n")) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        if (event["type"] == "report_hop") {
            hops.push_back(event);
        }
    }
    for (QAction* action : window.findChildren<QAction*>()) {
        if (action->text() == "Copy") {
            action->trigger();
        }
    }
    const QStringList copied = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);

    using Column = MonitorTableModel::Column;
    const int rows = window.table().model()->rowCount();
    ASSERT_EQ(rows, 3);
    ASSERT_EQ(csv.size(), rows + 1);
    ASSERT_EQ(hops.size(), rows);
    ASSERT_EQ(copied.size(), rows + 1);
    for (int row = 0; row < rows; ++row) {
        const QString hop = cell(window, row, Column::kHop);
        const QString addresses = cell(window, row, Column::kAddress);
        const QString loss = cell(window, row, Column::kLoss);
        const QString received = cell(window, row, Column::kReceived);
        const QStringList fields = csv[row + 1].split(',');
        EXPECT_EQ(fields.mid(0, 5),
                  QStringList({hop, QString(addresses).replace('\n', ' '), loss, "10", received}));

        const QJsonObject& json = hops[row];
        QStringList jsonAddresses;
        for (const QJsonValue address : json["addresses"].toArray()) {
            jsonAddresses << address.toString();
        }
        EXPECT_EQ(QString::number(json["hop"].toInt()), hop);
        EXPECT_EQ(jsonAddresses.join('\n'), addresses);
        EXPECT_EQ(QString::number(json["loss_percent"].toDouble(), 'f', 1), loss);
        EXPECT_EQ(QString::number(json["received"].toInt()), received);

        // Copy's columns are aligned with spaces: the same fields, word by word.
        const QStringList words = QStringList({hop, addresses, loss, "10", received})
                                      .join(' ')
                                      .split(QRegularExpression("\\s"));
        EXPECT_EQ(copied[row + 1].split(' ', Qt::SkipEmptyParts).mid(0, words.size()), words);
    }
}

TEST_F(MonitorWindowTest, layoutAndProbeMethodComeBackAfterReopening)
{
    struct Case {
        int method = 0; // as the method box lists them
        int port = 0;
        ProbeMethod expected;
        bool portEnabled = false;
    };
    const Case cases[] = {
        {2, 8443, {ProbeProtocol::Tcp, 8443}, true},
        {1, 0, {ProbeProtocol::Udp, 0}, true},
        {0, 8443, {ProbeProtocol::IcmpEcho, 0}, false}, // echo has no port
    };
    QSize size(1100, 560); // wider than the controls need
    for (const Case& each : cases) {
        QList<int> sizes;
        {
            MonitorWindow window(m_store);
            window.resize(size);
            window.show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
            auto* splitter = window.findChild<QSplitter*>("monitorSplitter");
            splitter->setSizes({150 + each.method * 20, 250});
            window.findChild<QComboBox*>("monitorMethod")->setCurrentIndex(each.method);
            window.findChild<QSpinBox*>("monitorPort")->setValue(each.port);
            sizes = splitter->sizes();
            window.close();
        }
        MonitorWindow reopened(m_store);
        reopened.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&reopened));
        EXPECT_EQ(reopened.size(), size);
        EXPECT_EQ(reopened.findChild<QSplitter*>("monitorSplitter")->sizes(), sizes);
        EXPECT_EQ(reopened.probeMethod(), each.expected) << each.method;
        EXPECT_EQ(reopened.findChild<QSpinBox*>("monitorPort")->isEnabled(), each.portEnabled);
        reopened.close();
        size += QSize(10, 10);
    }
}

// A run of the monitor's own, probing 127.0.0.1.
TEST_F(MonitorWindowTest, spacePausesAndASavedSessionOpensReadOnlyWithTheSameTable)
{
    MonitorWindow window(m_store);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.monitor("127.0.0.1");
    if (!QTest::qWaitFor([&] { return !window.model().rows().empty(); }, 5000)) {
        GTEST_SKIP() << "no samples from 127.0.0.1 within 5 s: is ICMP permitted?";
    }
    auto* pause = window.findChild<QPushButton*>("monitorPause");
    window.table().setFocus();
    QTest::keyClick(&window.table(), Qt::Key_Space);
    EXPECT_TRUE(window.isPaused());
    EXPECT_EQ(pause->text(), "Resume");
    window.drain();

    const QString path = m_dir.filePath("run.hopwise");
    QString error;
    ASSERT_TRUE(window.saveSession(path, error)) << error.toStdString();
    MonitorWindow opened(m_store);
    ASSERT_TRUE(opened.openSession(path, error)) << error.toStdString();
    EXPECT_TRUE(opened.isReadOnly());
    EXPECT_EQ(opened.tableText(), window.tableText());
    EXPECT_EQ(std::size_t(opened.table().model()->rowCount()), window.model().rows().size());
    for (const char* control : {"monitorHost", "monitorStart", "monitorPause"}) {
        EXPECT_FALSE(opened.findChild<QWidget*>(control)->isEnabled()) << control;
    }
    EXPECT_EQ(opened.findChild<QComboBox*>("monitorHost")->currentText(), "127.0.0.1");
    EXPECT_TRUE(opened.windowTitle().endsWith("(read-only)"));

    QTest::keyClick(&window.table(), Qt::Key_Space);
    EXPECT_FALSE(window.isPaused());
    EXPECT_EQ(pause->text(), "Pause");
}

} // namespace
} // namespace hopwise
