// TfmAbout: the modal About window with the test's and the driver's versions, the developer's
// data and links, and the logo; ShowAboutBox opens it; GetVersionString gives the program's own
// version text from its version resource.
#pragma once

#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QStringList>

#include <memory>
#include <string>

class QFrame;
class QListWidget;
class QPushButton;

// A label that reports a click of the left mouse button (the web and mail links).
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

class TfmAbout : public QDialog {
    Q_OBJECT
public:
    // Builds the window (FormCreate loads the logo; runtime::Exception when the bitmap resource
    // "LOGOBMP" is missing). parent: the window it stays above.
    explicit TfmAbout(QWidget* parent = nullptr);
    ~TfmAbout() override;

    // Handlers.
    void FormCreate(QObject* Sender);
    void FormShow(QObject* Sender);
    void FormPaint(QObject* Sender);
    void FormDestroy(QObject* Sender);
    void lblURLClick(QObject* Sender);
    void lblSupportMailClick(QObject* Sender);

    // The logo, null once FormDestroy has run.
    const QImage* Logo() const { return FLogo.get(); }

    QLabel* NameLabel;
    QFrame* bvlInfo;
    QLabel* lblFirmName;
    QLabel* lblAddress;
    QListWidget* lbVersion;
    QLabel* lblWebSite;
    TLinkLabel* lblURL;
    QLabel* lblSupport;
    TLinkLabel* lblSupportMail;
    QPushButton* btnOK;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildControls();
    void BindHandlers();
    void CentreOnScreen();

    std::unique_ptr<QImage> FLogo;
};

// Opens a new About window modally above Parent with the title and the version lines, one list
// item each, and destroys it when it closes (also when showing it fails).
void ShowAboutBox(QWidget* Parent, const QString& Title, const QStringList& Lines);

// "major.minor.release.build" of the file version in the program's own version resource (type
// version, identifier 1); "0.0.0.0" when there is none or it is too short to hold that version.
std::string GetVersionString();
