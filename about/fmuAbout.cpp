#include "about/fmuAbout.h"

#include "about/Developer.h"
#include "forms/Binding.h"
#include "forms/Controls.h"
#include "forms/Text.h"
#include "platform/resources.h"
#include "runtime/exceptions.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QUrl>

using forms::Place;
using forms::Text;

namespace {

// The logo bitmap "LOGOBMP": a whole .bmp file, which QImage reads as it is.
const unsigned char LogoBitmap[] = {
#include "about/LogoBitmap.inc"
};
const char* const LogoResourceName = "LOGOBMP";

// The program's bitmap resource is registered at start-up, on Windows as well: a resource
// compiler would keep the bitmap without its file header, which the whole-file reading needs.
struct TLogoResource {
    TLogoResource()
    {
        platform::RegisterProgramResource(platform::RT_BITMAP_ID, LogoResourceName, LogoBitmap, sizeof LogoBitmap);
    }
};
const TLogoResource LogoResource;

constexpr int ClientWidth = 335;
constexpr int ClientHeight = 232;
constexpr int StripRight = 81;   // the painted left strip: (5, 7) to (81, 190)
constexpr int StripBottom = 190;

// List box items of one fixed height.
class TFixedItemHeight : public QStyledItemDelegate {
public:
    TFixedItemHeight(int height, QObject* parent) : QStyledItemDelegate(parent), FHeight(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width(), FHeight};
    }

private:
    int FHeight;
};

QLabel* MakeFixedLabel(QWidget* parent, const QString& text, int left, int top, int width, int height)
{
    auto* label = Place(new QLabel(text, parent), left, top, width, height);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

TLinkLabel* MakeLink(QWidget* parent, const QString& text, int left, int top, int width, int height)
{
    auto* label = Place(new TLinkLabel(text, parent), left, top, width, height);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

// Shows the address in full when it fits the label's width in the label's font, otherwise
// shortened in the middle with the whole address as the tool tip. (The window's font falls back
// to a wider face where MS Sans Serif is missing.)
void ShowAddress(QLabel* label, const QString& address)
{
    const QString shown = label->fontMetrics().elidedText(address, Qt::ElideMiddle, label->width());
    label->setText(shown);
    label->setToolTip(shown == address ? QString() : address);
}

void SetTextColour(QWidget* control, const QColor& colour)
{
    QPalette palette = control->palette();
    palette.setColor(QPalette::WindowText, colour);
    control->setPalette(palette);
}

} // namespace

// ------------------------------------------------------------------------------ TLinkLabel

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

// ------------------------------------------------------------------------------ TfmAbout

TfmAbout::TfmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setWindowTitle(Text("О драйвере"));
    setFont(forms::StandardFont());
    setFixedSize(ClientWidth, ClientHeight);
    BuildControls();
    BindHandlers();
    CentreOnScreen();
    FormCreate(this);
}

TfmAbout::~TfmAbout() { FormDestroy(this); }

void TfmAbout::BuildControls()
{
    NameLabel = MakeFixedLabel(this, QString(), 88, 4, 249, 25);

    bvlInfo = Place(new QFrame(this), 88, 34, 241, 57);
    bvlInfo->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bvlInfo->setLineWidth(1);

    lblFirmName = MakeFixedLabel(this, Text("Разработка: ") + Text(about::DeveloperName), 93, 37, 225, 13);
    QFont bold = font();
    bold.setBold(true);
    lblFirmName->setFont(bold);

    // Sized to its two lines, its top-left corner fixed.
    lblAddress = MakeFixedLabel(this, Text(about::DeveloperAddress) + QLatin1Char('\n') + Text(about::DeveloperPhone),
                                92, 50, 192, 26);
    lblAddress->resize(lblAddress->sizeHint());

    lbVersion = Place(new QListWidget(this), 88, 96, 241, 45);
    lbVersion->setFocusPolicy(Qt::NoFocus);
    lbVersion->setAccessibleName(Text("Версии"));
    lbVersion->setItemDelegate(new TFixedItemHeight(13, lbVersion));
    QPalette white = lbVersion->palette();
    white.setColor(QPalette::Base, Qt::white);
    lbVersion->setPalette(white);

    lblWebSite = MakeFixedLabel(this, Text("Наш Web-сайт:"), 88, 146, 97, 13);
    lblURL = MakeLink(this, Text(about::DeveloperWebAddress), 192, 146, 145, 13);
    lblSupport = MakeFixedLabel(this, Text("Тех. поддержка:"), 88, 162, 97, 13);
    lblSupportMail = MakeLink(this, Text(about::DeveloperSupportMail), 192, 162, 145, 13);

    btnOK = Place(new QPushButton(QStringLiteral("OK"), this), 128, 202, 89, 25);
    btnOK->setDefault(true);
}

void TfmAbout::BindHandlers()
{
    forms::Bind(lblURL, &TLinkLabel::clicked, this, FORMS_HANDLER(&TfmAbout::lblURLClick));
    forms::Bind(lblSupportMail, &TLinkLabel::clicked, this, FORMS_HANDLER(&TfmAbout::lblSupportMailClick));
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
}

void TfmAbout::CentreOnScreen()
{
    QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - ClientWidth) / 2, area.y() + (area.height() - ClientHeight) / 2);
}

void TfmAbout::FormCreate(QObject*)
{
    platform::ResourceData resource;
    if (!platform::FindProgramResource(platform::RT_BITMAP_ID, LogoResourceName, resource))
        throw runtime::Exception(std::string("Resource ") + LogoResourceName + " not found");
    auto logo = std::make_unique<QImage>(
        QImage::fromData(static_cast<const uchar*>(resource.Data), static_cast<int>(resource.Size), "BMP"));
    if (logo->isNull())
        throw runtime::Exception(std::string("Resource ") + LogoResourceName + " is not a bitmap");
    FLogo = std::move(logo);
}

void TfmAbout::FormShow(QObject*)
{
    QFont title = font();
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() + 4);
    NameLabel->setFont(title);
    SetTextColour(NameLabel, QColor(0x00, 0x00, 0x80)); // navy

    QFont link = font();
    link.setUnderline(true);
    for (QLabel* label : {static_cast<QLabel*>(lblURL), static_cast<QLabel*>(lblSupportMail)}) {
        label->setFont(link);
        SetTextColour(label, QColor(0x00, 0x00, 0xFF)); // blue
    }
    ShowAddress(lblURL, Text(about::DeveloperWebAddress));
    ShowAddress(lblSupportMail, Text(about::DeveloperSupportMail));
}

void TfmAbout::FormPaint(QObject*)
{
    QPainter canvas(this);
    // Corner points inclusive: the strip covers x 5..80, y 7..189, as a rectangle to (81, 190).
    canvas.fillRect(QRect(QPoint(5, 7), QPoint(StripRight - 1, StripBottom - 1)), Qt::white);

    canvas.setPen(QColor(128, 128, 128));
    canvas.drawLine(5, 7, StripRight - 1, 7);
    canvas.drawLine(5, 7, 5, StripBottom - 1);

    canvas.setPen(Qt::black);
    const int right = width() - 1;
    canvas.drawLine(88, 26, right, 26); // double rule under the title
    canvas.drawLine(88, 28, right, 28);
    canvas.drawLine(0, 196, right, 196); // rule above the OK button

    if (FLogo)
        canvas.drawImage(10, 15, *FLogo);
}

void TfmAbout::FormDestroy(QObject*) { FLogo.reset(); }

// A failed open is ignored: nothing is shown.
void TfmAbout::lblURLClick(QObject*) { QDesktopServices::openUrl(QUrl(Text(about::DeveloperWebAddress))); }

void TfmAbout::lblSupportMailClick(QObject*)
{
    QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + Text(about::DeveloperSupportMail)));
}

void TfmAbout::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    forms::Protect(this, [this] { FormShow(this); });
}

void TfmAbout::paintEvent(QPaintEvent*)
{
    forms::Protect(this, [this] { FormPaint(this); });
}

// Escape presses OK, as Enter does: the window closes with the result OK either way.
void TfmAbout::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        btnOK->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ------------------------------------------------------------------------------ ShowAboutBox

void ShowAboutBox(QWidget* Parent, const QString& Title, const QStringList& Lines)
{
    // Parent makes the window stay above it; the window's life is this call's.
    auto form = std::make_unique<TfmAbout>(Parent);
    form->NameLabel->setText(Title);
    form->lbVersion->addItems(Lines);
    form->exec();
}
