#pragma once

// The About box, built from dialog template 100: the application icon, the version line and the
// copyright notice, closed with OK. Modal over its owner and centred on it.

#include <QDialog>

namespace hopwise {

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* owner);

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace hopwise
