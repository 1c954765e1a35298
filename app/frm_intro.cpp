// The intro window and its two home-made pictures.
#include "app/frm_intro.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadialGradient>
#include <QScreen>
#include <QUrl>

const char* const kHomePage = "https://orrindale.example.org/";
const char* const kSupportPage = "https://orrindale.example.org/support";

QPixmap drawLogo() {
    // Three overlapping frames, dark to bright: a bracket merging into one.
    QPixmap logo(128, 128);
    logo.fill(QColor(236, 236, 236));
    QPainter p(&logo);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor shades[3] = {QColor(40, 48, 64), QColor(112, 128, 160), QColor(236, 196, 96)};
    for (int i = 0; i < 3; ++i) {
        const QRectF r(14 + i * 18, 18 + i * 18, 62, 62);
        p.setPen(QPen(QColor(30, 30, 30), 2));
        p.setBrush(shades[i]);
        p.drawRoundedRect(r, 8, 8);
    }
    QRadialGradient sun(QPointF(99, 99), 16);
    sun.setColorAt(0, QColor(255, 255, 240));
    sun.setColorAt(1, QColor(255, 214, 120, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(sun);
    p.drawEllipse(QPointF(99, 99), 16, 16);
    return logo;
}

QPixmap drawDonatePicture() {
    QPixmap pic(62, 31);
    pic.fill(Qt::transparent);
    QPainter p(&pic);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 31);
    g.setColorAt(0, QColor(255, 222, 120));
    g.setColorAt(1, QColor(240, 170, 40));
    p.setBrush(g);
    p.setPen(QPen(QColor(150, 100, 20), 1));
    p.drawRoundedRect(QRectF(0.5, 0.5, 61, 30), 12, 12);
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(12);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(40, 40, 90));
    p.drawText(QRect(0, 0, 62, 31), Qt::AlignCenter, QStringLiteral("Donate"));
    return pic;
}

frmIntro::frmIntro(std::function<void()> onStart, std::function<void(const QUrl&)> openUrl)
    : QWidget(nullptr, Qt::Dialog | Qt::FramelessWindowHint),
      onStart_(std::move(onStart)),
      openUrl_(std::move(openUrl)) {
    setObjectName(QStringLiteral("frmIntro"));
    setFixedSize(400, 173);
    setAttribute(Qt::WA_DeleteOnClose);

    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frame->setGeometry(8, 6, 384, 155);

    Picture2 = new QLabel(frame);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setGeometry(24, 16, 129, 129);
    Picture2->setPixmap(drawLogo());

    auto label = [&](const char* name, const QString& text, int x, int y, int w, int h) {
        auto* l = new QLabel(text, frame);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(x, y, w, h);
        return l;
    };
    lblCompanyProduct = label("lblCompanyProduct", QStringLiteral("Orrindale v1.1"), 168, 16, 200, 24);
    QFont title(QStringLiteral("Arial"));
    title.setPointSizeF(15.75);
    title.setBold(true);
    lblCompanyProduct->setFont(title);
    Label1 = label("Label1", QStringLiteral("Low-noise RAW bracket blending"), 168, 40,
                   212, 16);
    Label3 = label("Label3", QStringLiteral("by the Orrindale developers"), 168, 56,
                   212, 16);
    lblLink = label("lblLink", QStringLiteral("orrindale.example.org"), 168, 72, 212, 16);
    lblLink->setStyleSheet(QStringLiteral("color: blue; text-decoration: underline;"));
    lblLink->setCursor(Qt::PointingHandCursor);
    lblLink->installEventFilter(this);
    Label2 = label("Label2", QStringLiteral("Shoot a bracket, blend it clean"), 168, 88, 212, 18);
    QFont red(QStringLiteral("Arial"));
    red.setPointSizeF(9.75);
    red.setBold(true);
    Label2->setFont(red);
    Label2->setStyleSheet(QStringLiteral("color: #c00000;"));
    for (QLabel* l : {Label1, Label3}) {
        QFont small = l->font();
        small.setPointSizeF(8.25);
        l->setFont(small);
    }

    pctDonate = label("pctDonate", QString(), 184, 109, 62, 31);
    pctDonate->setPixmap(drawDonatePicture());
    pctDonate->setCursor(Qt::PointingHandCursor);
    pctDonate->setToolTip(QStringLiteral("Support Orrindale"));
    pctDonate->installEventFilter(this);

    cmdStart = new QPushButton(QStringLiteral("Start"), frame);
    cmdStart->setObjectName(QStringLiteral("cmdStart"));
    cmdStart->setGeometry(280, 112, 81, 25);
    cmdStart->setDefault(true);
    connect(cmdStart, &QPushButton::clicked, this, [this] { cmdStart_Click(); });

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

bool frmIntro::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == lblLink) lblLink_Click();
        if (watched == pctDonate) pctDonate_Click();
    }
    return QWidget::eventFilter(watched, event);
}

void frmIntro::cmdStart_Click() {
    started_ = true;
    if (onStart_) onStart_();
    QApplication::processEvents();
    close();
}

void frmIntro::closeEvent(QCloseEvent* event) {
    // Closed by the window manager instead of "Start": go on to the main
    // window rather than leave the program running with no window at all.
    if (!started_) {
        started_ = true;
        if (onStart_) onStart_();
    }
    event->accept();
}

void frmIntro::lblLink_Click() {
    if (openUrl_) openUrl_(QUrl(QString::fromLatin1(kHomePage)));
}

void frmIntro::pctDonate_Click() {
    if (openUrl_) openUrl_(QUrl(QString::fromLatin1(kSupportPage)));
}
