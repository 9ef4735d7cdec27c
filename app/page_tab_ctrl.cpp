#include "app/page_tab_ctrl.h"

#include <QResizeEvent>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTabBar>
#include <utility>

namespace hopwise {
namespace {

// Space between the tab host's edges (and the tab row) and the page.
constexpr int kPageMargin = 5;

} // namespace

CPageTabCtrl::CPageTabCtrl(QWidget* parent) : QWidget(parent), m_tabBar(new QTabBar(this))
{
    m_tabBar->setObjectName(QStringLiteral("tabBar"));
    m_tabBar->setAccessibleName(QStringLiteral("Pages"));
    m_tabBar->setDrawBase(true);
    m_tabBar->setExpanding(false);
    m_tabBar->setGeometry(0, 0, width(), tabRowHeight());
    connect(m_tabBar, &QTabBar::currentChanged, this, [this] { OnSelChange(); });
    // The keys a tabbed window switches pages with, wherever the focus is in the window.
    const std::pair<QKeyCombination, int> steps[] = {
        {Qt::CTRL | Qt::Key_Tab, 1},
        {Qt::CTRL | Qt::SHIFT | Qt::Key_Tab, -1},
        {Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, -1},
        {Qt::CTRL | Qt::Key_PageDown, 1},
        {Qt::CTRL | Qt::Key_PageUp, -1},
    };
    for (const auto& [key, step] : steps) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, step = step] {
            const int count = m_tabBar->count();
            if (count > 0) {
                m_tabBar->setCurrentIndex((m_tabBar->currentIndex() + step + count) % count);
            }
        });
    }
}

// The pages belong to the main frame: only the entries go.
CPageTabCtrl::~CPageTabCtrl() = default;

int CPageTabCtrl::tabRowHeight() const
{
    // Asking the real tab row would give nothing before its first tab exists, and the row's
    // height must be known when that first tab's page is placed. A scratch tab bar with the same
    // style and font and one tab gives the height the row has once it holds its tabs.
    QTabBar probe;
    probe.setStyle(m_tabBar->style());
    probe.setFont(m_tabBar->font());
    probe.setDrawBase(m_tabBar->drawBase());
    probe.addTab(QStringLiteral("Hopwise"));
    return probe.sizeHint().height();
}

void CPageTabCtrl::AddPage(QString title, QWidget* page, bool select, int image)
{
    m_pages.push_back(PageEntry{std::move(title), page});
    const QString& text = m_pages.back().strTitle;

    const QRect client = rect();
    const int rowHeight = tabRowHeight();
    const int x = client.left() + kPageMargin;
    const int y = client.top() + rowHeight + kPageMargin;
    const int right = client.left() + client.width() - kPageMargin;
    const int bottom = client.top() + client.height() - kPageMargin;
    if (page != nullptr) {
        page->setGeometry(x, y, right - x, bottom - y);
        page->update();
    }

    // Selections made here are the host's own, not the user's: the tab row must not report
    // them as a selection change.
    const QSignalBlocker blocker(m_tabBar);
    const int tab = m_tabBar->insertTab(
        static_cast<int>(m_pages.size()),
        image >= 0 && image < m_imageList.size() ? m_imageList.at(image) : QIcon(), text);
    m_tabBar->setAccessibleTabName(tab, text);

    if (select) {
        const int current = m_tabBar->currentIndex();
        if (current == -1) {
            return;
        }
        showPage(current, false);
        m_tabBar->setCurrentIndex(static_cast<int>(m_pages.size()) - 1);
        if (page != nullptr) {
            page->show();
        }
        m_nCurPage = m_tabBar->currentIndex();
    } else if (page != nullptr) {
        page->hide();
    }
}

void CPageTabCtrl::AddPage(QString title, QWidget* page, bool select, const QPixmap* bitmap)
{
    int image = -1;
    if (bitmap != nullptr && !bitmap->isNull()) {
        m_imageList.append(QIcon(*bitmap));
        image = static_cast<int>(m_imageList.size()) - 1;
    }
    AddPage(std::move(title), page, select, image);
}

void CPageTabCtrl::OnSelChange()
{
    const int selected = m_tabBar->currentIndex();
    if (selected == -1) {
        return;
    }
    showPage(m_nCurPage, false);
    showPage(selected, true);
    m_nCurPage = selected;
}

bool CPageTabCtrl::OnCmdMsg(int /*commandId*/)
{
    return false;
}

void CPageTabCtrl::resizeEvent(QResizeEvent* event)
{
    // Only the tab row follows the host's width; the pages keep the places they were given.
    m_tabBar->setGeometry(0, 0, event->size().width(), tabRowHeight());
    QWidget::resizeEvent(event);
}

void CPageTabCtrl::showPage(int index, bool visible)
{
    if (index < 0 || index >= static_cast<int>(m_pages.size()) || m_pages[index].pPage == nullptr) {
        return;
    }
    m_pages[index].pPage->setVisible(visible);
}

} // namespace hopwise
