// The intro window: logo, name and version, two links, and "Start".
#pragma once

#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QUrl;

// The project's own pages.
extern const char* const kHomePage;
extern const char* const kSupportPage;

class frmIntro : public QWidget {
    Q_OBJECT
public:
    // onStart shows the main window; openUrl opens a web page (result ignored).
    frmIntro(std::function<void()> onStart, std::function<void(const QUrl&)> openUrl);

    void cmdStart_Click();
    void lblLink_Click();
    void pctDonate_Click();

    QLabel* Picture2 = nullptr;
    QLabel* lblCompanyProduct = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* lblLink = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* pctDonate = nullptr;
    QPushButton* cmdStart = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<void()> onStart_;
    std::function<void(const QUrl&)> openUrl_;
    bool started_ = false;
};

// Pictures the program draws itself.
QPixmap drawLogo();
QPixmap drawDonatePicture();
