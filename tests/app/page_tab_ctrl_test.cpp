// The tab host with plain widgets as pages: where pages go, which one shows, and what a
// selection change does.

#include <QEvent>
#include <QTabBar>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include "app/page_tab_ctrl.h"

namespace hopwise {
namespace {

// Records the show and hide events a widget receives.
class VisibilityLog : public QObject {
public:
    std::vector<QEvent::Type> events;
    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        if (event->type() == QEvent::Show || event->type() == QEvent::Hide) {
            events.push_back(event->type());
        }
        return false;
    }
};

class PageTabCtrlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_host.resize(300, 220);
        m_host.show();
    }

    QWidget* addPage(bool select, QString title = QStringLiteral("Page"))
    {
        auto* page = new QWidget(&m_host);
        m_pages.push_back(page);
        m_host.AddPage(title, page, select, -1);
        return page;
    }

    std::vector<bool> visibility() const
    {
        std::vector<bool> result;
        for (const QWidget* page : m_pages) {
            result.push_back(page->isVisible());
        }
        return result;
    }

    CPageTabCtrl m_host;
    std::vector<QWidget*> m_pages;
};

TEST_F(PageTabCtrlTest, startsWithNoCurrentPageAndNoImages)
{
    EXPECT_EQ(m_host.currentPage(), -1);
    EXPECT_TRUE(m_host.pages().empty());
    EXPECT_TRUE(m_host.imageList().empty());
    EXPECT_GT(m_host.tabRowHeight(), 0) << "the tab row height is known before any tab exists";
}

struct GeometryCase {
    int width;
    int height;
};

class PageGeometryTest : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(PageGeometryTest, pageIsInsetFiveBelowTheTabRow)
{
    const auto [width, height] = GetParam();
    CPageTabCtrl host;
    host.resize(width, height);
    host.show();
    const int h = host.tabRowHeight();
    auto* first = new QWidget(&host);
    auto* second = new QWidget(&host);
    host.AddPage(QStringLiteral("Hopwise"), first, true, -1);
    host.AddPage(QStringLiteral("Ping"), second, false, -1);

    const QRect expected(5, h + 5, width - 10, height - h - 10);
    EXPECT_EQ(first->geometry(), expected);
    EXPECT_EQ(second->geometry(), expected);
    // The height used for the pages is the height the real row has once it holds tabs.
    EXPECT_EQ(host.tabBar()->geometry(), QRect(0, 0, width, h));
    EXPECT_EQ(h, host.tabBar()->sizeHint().height());
}

INSTANTIATE_TEST_SUITE_P(HostSizes, PageGeometryTest,
                         ::testing::Values(GeometryCase{300, 220}, GeometryCase{250, 338},
                                           GeometryCase{641, 377}, GeometryCase{120, 90}));

struct SelectionCase {
    const char* name;
    std::vector<bool> selects; // AddPage's select argument, one page each
    std::vector<bool> visible; // which pages show afterwards
    int currentPage;           // m_nCurPage afterwards
    int currentTab;            // the tab row's selection afterwards
};

class AddPageSelectionTest : public PageTabCtrlTest,
                             public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(AddPageSelectionTest, showsOnlyThePageOfTheSelectedTab)
{
    const SelectionCase& c = GetParam();
    for (const bool select : c.selects) {
        addPage(select);
    }
    EXPECT_EQ(visibility(), c.visible);
    EXPECT_EQ(m_host.currentPage(), c.currentPage);
    EXPECT_EQ(m_host.tabBar()->currentIndex(), c.currentTab);
    EXPECT_EQ(m_host.tabBar()->count(), static_cast<int>(c.selects.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AddPageSelectionTest,
    ::testing::Values(
        SelectionCase{"firstSelected", {true}, {true}, 0, 0},
        SelectionCase{"secondNotSelected", {true, false}, {true, false}, 0, 0},
        SelectionCase{"secondSelectedTakesOver", {true, true}, {false, true}, 1, 1},
        SelectionCase{
            "thirdSelectedAfterHiddenSecond", {true, false, true}, {false, false, true}, 2, 2},
        // The first tab inserted becomes the row's selection, but nothing is shown for it.
        SelectionCase{"firstNotSelected", {false}, {false}, -1, 0},
        SelectionCase{"selectedAfterUnselectedFirst", {false, true}, {false, true}, 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PageTabCtrlTest, tabsCarryTheirTitlesAsTextAndAccessibleNameWithoutImages)
{
    addPage(true, QStringLiteral("Hopwise"));
    addPage(false, QStringLiteral("Ping"));
    ASSERT_EQ(m_host.pages().size(), 2U);
    for (int i = 0; i < 2; ++i) {
        const QString title = m_host.pages()[i].strTitle;
        EXPECT_EQ(m_host.pages()[i].pPage, m_pages[i]);
        EXPECT_EQ(m_host.tabBar()->tabText(i), title);
        EXPECT_EQ(m_host.tabBar()->accessibleTabName(i), title);
        EXPECT_TRUE(m_host.tabBar()->tabIcon(i).isNull());
    }
    EXPECT_EQ(m_host.pages()[0].strTitle, QStringLiteral("Hopwise"));
    EXPECT_TRUE(m_host.imageList().empty());
}

TEST_F(PageTabCtrlTest, bitmapFormAddsTheImageAndUsesIt)
{
    QPixmap bitmap(16, 16);
    bitmap.fill(Qt::red);
    auto* page = new QWidget(&m_host);
    m_host.AddPage(QStringLiteral("Image"), page, true, &bitmap);
    EXPECT_EQ(m_host.imageList().size(), 1);
    EXPECT_FALSE(m_host.tabBar()->tabIcon(0).isNull());
}

TEST_F(PageTabCtrlTest, userSelectionSwapsThePages)
{
    addPage(true);
    addPage(false);
    m_host.tabBar()->setCurrentIndex(1);
    EXPECT_EQ(visibility(), (std::vector<bool>{false, true}));
    EXPECT_EQ(m_host.currentPage(), 1);
    m_host.tabBar()->setCurrentIndex(0);
    EXPECT_EQ(visibility(), (std::vector<bool>{true, false}));
    EXPECT_EQ(m_host.currentPage(), 0);
}

TEST_F(PageTabCtrlTest, selectionChangeNamingTheCurrentTabHidesAndShowsThatPage)
{
    QWidget* first = addPage(true);
    addPage(false);
    VisibilityLog log;
    first->installEventFilter(&log);
    m_host.OnSelChange();
    EXPECT_EQ(log.events, (std::vector<QEvent::Type>{QEvent::Hide, QEvent::Show}));
    EXPECT_EQ(m_host.currentPage(), 0);
    EXPECT_EQ(visibility(), (std::vector<bool>{true, false}));
}

TEST_F(PageTabCtrlTest, resizingTheHostLaterMovesNoPage)
{
    QWidget* page = addPage(true);
    const QRect placed = page->geometry();
    m_host.resize(500, 400);
    EXPECT_EQ(page->geometry(), placed);
    EXPECT_EQ(m_host.tabBar()->width(), 500) << "the tab row follows the host's width";
}

} // namespace
} // namespace hopwise
