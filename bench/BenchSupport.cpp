#include "BenchSupport.h"

#include "app/fmuMain.h"
#include "FakeDriver.h"
#include "forms/Controls.h"
#include "forms/Spin.h"
#include "runtime/exceptions.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace bench {
namespace {

std::filesystem::path MakeTempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "ponderix-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    return pattern;
}

void SetRegistry(const std::filesystem::path& file) { setenv("PONDERIX_CLASS_REGISTRY", file.c_str(), 1); }

std::map<std::string, TMedian>& Medians()
{
    static std::map<std::string, TMedian> medians;
    return medians;
}

} // namespace

TDrivers::TDrivers() : FFolder(MakeTempFolder())
{
    setenv("TRUTINA_SETTINGS", (FFolder / "trutina.json").c_str(), 1);
    // Registered by the regsvr tool in a process of its own, as the launcher does: in this process
    // the fake's exported DllRegisterServer would stand in for the substitute's own when the
    // substitute looks up its module by that symbol, and its entry would name the fake.
    UseSubstitute();
    QProcess regsvr;
    regsvr.start(REGSVR_PATH, {TRUTINA_MODULE_PATH});
    if (!regsvr.waitForFinished(30'000) || regsvr.exitCode() != 0)
        throw std::runtime_error("regsvr did not register the substitute driver");
    UseFake();
    if (FAILED(fakedriver::Register()))
        throw std::runtime_error("the fake driver did not register");
    UseSubstitute();
}

TDrivers::~TDrivers()
{
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
}

void TDrivers::UseSubstitute() { SetRegistry(FFolder / "substitute.reg"); }
void TDrivers::UseFake() { SetRegistry(FFolder / "fake.reg"); }

TDrivers& Drivers()
{
    static TDrivers drivers;
    return drivers;
}

void NoAsk(const std::string&, const std::string&) { throw std::runtime_error("the registration prompt was shown"); }

void SettleEvents()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

std::unique_ptr<TfmMain> ShowMainWindow()
{
    auto window = std::make_unique<TfmMain>(NoAsk);
    window->show();
    SettleEvents();
    return window;
}

namespace {
std::unique_ptr<TfmMain> GSharedWindows[2];
}

TfmMain& SharedMainWindow(bool fake)
{
    auto& window = GSharedWindows[fake ? 1 : 0];
    if (!window) {
        if (fake)
            Drivers().UseFake();
        else
            Drivers().UseSubstitute();
        window = ShowMainWindow();
    }
    return *window;
}

void ReleaseSharedWindows()
{
    for (auto& window : GSharedWindows)
        window.reset();
}

namespace {

// Lists original's controls (depth first) into blueprint under parent.
void ListChildren(const QWidget& original, int parent, QJsonArray& blueprint);

void ListControl(const QWidget& original, int parent, QJsonArray& blueprint)
{
    QJsonObject c;
    c["parent"] = parent;
    const QRect r = original.geometry();
    c["rect"] = QJsonArray{r.x(), r.y(), r.width(), r.height()};
    const int self = blueprint.size();
    bool children = false;
    if (auto* tabs = qobject_cast<const QTabWidget*>(&original)) {
        c["kind"] = "tabs";
        blueprint.append(c);
        for (int i = 0; i < tabs->count(); ++i) {
            const int page = blueprint.size();
            blueprint.append(QJsonObject{{"kind", "page"}, {"parent", self}, {"text", tabs->tabText(i)}});
            ListChildren(*tabs->widget(i), page, blueprint);
        }
        return;
    } else if (auto* edit = qobject_cast<const QLineEdit*>(&original)) {
        c["kind"] = "edit", c["text"] = edit->text();
    } else if (auto* box = qobject_cast<const QCheckBox*>(&original)) {
        c["kind"] = "check", c["text"] = box->text();
    } else if (auto* button = qobject_cast<const QPushButton*>(&original)) {
        c["kind"] = "button", c["text"] = button->text();
    } else if (auto* label = qobject_cast<const QLabel*>(&original)) {
        c["kind"] = "label", c["text"] = label->text();
    } else if (auto* list = qobject_cast<const QComboBox*>(&original)) {
        QJsonArray items;
        for (int i = 0; i < list->count(); ++i)
            items.append(list->itemText(i));
        c["kind"] = "list", c["items"] = items;
    } else if (auto* memo = qobject_cast<const QPlainTextEdit*>(&original)) {
        c["kind"] = "memo", c["text"] = memo->toPlainText();
    } else if (auto* arrows = qobject_cast<const forms::TArrowPair*>(&original)) {
        c["kind"] = "widget";
        blueprint.append(c);
        for (QToolButton* arrow : {arrows->UpButton(), arrows->DownButton()}) {
            const QRect a = arrow->geometry();
            blueprint.append(QJsonObject{{"kind", "arrow"}, {"parent", self}, {"arrow", int(arrow->arrowType())},
                                         {"rect", QJsonArray{a.x(), a.y(), a.width(), a.height()}}});
        }
        return;
    } else if (auto* group = qobject_cast<const QGroupBox*>(&original)) {
        c["kind"] = "group", c["text"] = group->title();
        children = true;
    } else if (auto* frame = qobject_cast<const QFrame*>(&original)) {
        c["kind"] = "frame", c["frame"] = frame->frameStyle();
        children = true;
    } else if (original.metaObject() == &QWidget::staticMetaObject) {
        c["kind"] = "widget";
        children = true;
    } else {
        return; // a window's own helpers (menus and the like) are not controls
    }
    blueprint.append(c);
    if (children)
        ListChildren(original, self, blueprint);
}

void ListChildren(const QWidget& original, int parent, QJsonArray& blueprint)
{
    for (QWidget* child : original.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        ListControl(*child, parent, blueprint);
}

QWidget* MakeControl(const QJsonObject& c, QWidget* parent)
{
    const QString kind = c["kind"].toString();
    const QString text = c["text"].toString();
    if (kind == "tabs")
        return new QTabWidget(parent);
    if (kind == "edit")
        return new QLineEdit(text, parent);
    if (kind == "check")
        return new QCheckBox(text, parent);
    if (kind == "button")
        return new QPushButton(text, parent);
    if (kind == "label")
        return new QLabel(text, parent);
    if (kind == "list") {
        auto* list = new QComboBox(parent);
        for (const QJsonValue item : c["items"].toArray())
            list->addItem(item.toString());
        return list;
    }
    if (kind == "memo")
        return new QPlainTextEdit(text, parent);
    if (kind == "arrow") {
        auto* arrow = new QToolButton(parent);
        arrow->setArrowType(Qt::ArrowType(c["arrow"].toInt()));
        return arrow;
    }
    if (kind == "group")
        return new QGroupBox(text, parent);
    if (kind == "frame") {
        auto* frame = new QFrame(parent);
        frame->setFrameStyle(c["frame"].toInt());
        return frame;
    }
    return new QWidget(parent);
}

} // namespace

QByteArray WindowBlueprint(const QWidget& window)
{
    QJsonArray controls;
    ListChildren(window, -1, controls);
    const QSize size = window.size();
    return QJsonDocument(QJsonObject{{"title", window.windowTitle()},
                                     {"size", QJsonArray{size.width(), size.height()}},
                                     {"controls", controls}})
        .toJson(QJsonDocument::Compact);
}

std::unique_ptr<QWidget> ShowBareWindow(const QByteArray& blueprint)
{
    const QJsonObject description = QJsonDocument::fromJson(blueprint).object();
    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(description["title"].toString());
    window->setFont(forms::StandardFont());
    const QJsonArray size = description["size"].toArray();
    window->setFixedSize(size[0].toInt(), size[1].toInt());
    std::vector<QWidget*> made;
    for (const QJsonValue value : description["controls"].toArray()) {
        const QJsonObject c = value.toObject();
        const int parentIndex = c["parent"].toInt();
        QWidget* parent = parentIndex < 0 ? window.get() : made.at(parentIndex);
        QWidget* control = nullptr;
        if (c["kind"].toString() == "page") {
            control = new QWidget;
            static_cast<QTabWidget*>(parent)->addTab(control, c["text"].toString());
        } else {
            control = MakeControl(c, parent);
            const QJsonArray r = c["rect"].toArray();
            control->setGeometry(r[0].toInt(), r[1].toInt(), r[2].toInt(), r[3].toInt());
        }
        made.push_back(control);
    }
    window->show();
    SettleEvents();
    return window;
}

long PeakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

void RecordMedian(const std::string& benchmark, double seconds, const std::map<std::string, double>& counters)
{
    Medians()[benchmark] = TMedian{seconds, counters};
}

const TMedian* Median(const std::string& benchmark)
{
    const auto found = Medians().find(benchmark);
    return found == Medians().end() ? nullptr : &found->second;
}

} // namespace bench
