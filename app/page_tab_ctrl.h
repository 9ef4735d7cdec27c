#pragma once

// The tab host: a tab row across the top and the pages below it, one page shown at a time.
//
// The pages are direct children of the tab host and are placed only when they are added, so a
// page keeps exactly the rectangle its tab was given even if the host is resized later. That is
// why this is not a QTabWidget or QStackedWidget: both lay their pages out on every resize.

#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <vector>

class QTabBar;

namespace hopwise {

class CPageTabCtrl : public QWidget {
    Q_OBJECT

public:
    struct PageEntry {
        QString strTitle;
        QWidget* pPage; // not owned: the main frame owns its pages
    };

    explicit CPageTabCtrl(QWidget* parent = nullptr);
    ~CPageTabCtrl() override;

    // page must already be a child of this tab host; image indexes m_imageList, -1 for none.
    void AddPage(QString title, QWidget* page, bool select, int image);
    // Adds bitmap (when not null) to the image list and the page with the image's index.
    void AddPage(QString title, QWidget* page, bool select, const QPixmap* bitmap);

    // The tab row's own selection change, made by the user.
    void OnSelChange();

    // The tab host takes no commands.
    bool OnCmdMsg(int commandId);

    // Height of the tab row: the height a tab bar of this widget's style and font gives a row
    // holding one tab. Defined whether or not a tab exists yet.
    int tabRowHeight() const;

    const std::vector<PageEntry>& pages() const { return m_pages; }
    int currentPage() const { return m_nCurPage; }
    const QList<QIcon>& imageList() const { return m_imageList; }
    QTabBar* tabBar() const { return m_tabBar; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showPage(int index, bool visible);

    std::vector<PageEntry> m_pages;
    int m_nCurPage = -1;
    QList<QIcon> m_imageList; // tab images; the shell adds none
    QTabBar* m_tabBar;        // child widget
};

} // namespace hopwise
