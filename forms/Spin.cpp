#include "forms/Spin.h"

#include "forms/Accessible.h"

#include <QKeyEvent>
#include <QToolButton>

#include <algorithm>

namespace forms {
namespace {

// The arrows are read out by these names, in the windows' language.
const char* const UpArrowName = "Больше";
const char* const DownArrowName = "Меньше";

QToolButton* MakeArrow(QWidget* parent, Qt::ArrowType arrow, const char* name)
{
    auto* button = new QToolButton(parent);
    button->setAccessibleName(QString::fromUtf8(name));
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setMinimumSize(1, 1);
    return button;
}

} // namespace

TArrowPair::TArrowPair(QWidget* parent)
    : QWidget(parent), FUp(MakeArrow(this, Qt::UpArrow, UpArrowName)),
      FDown(MakeArrow(this, Qt::DownArrow, DownArrowName))
{
    InstallAccessibleControls();
    connect(FUp, &QToolButton::clicked, this, [this] { UpPressed(); });
    connect(FDown, &QToolButton::clicked, this, [this] { DownPressed(); });
}

void TArrowPair::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int upHeight = height() / 2;
    FUp->setGeometry(0, 0, width(), upHeight);
    FDown->setGeometry(0, upHeight, width(), height() - upHeight);
}

TSpinButton::TSpinButton(QWidget* parent) : TArrowPair(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void TSpinButton::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Up:
        emit upClicked();
        break;
    case Qt::Key_Down:
        emit downClicked();
        break;
    default:
        TArrowPair::keyPressEvent(event);
    }
}

TUpDown::TUpDown(QWidget* parent) : TArrowPair(parent)
{
    setFocusPolicy(Qt::NoFocus);
}

void TUpDown::SetRange(int min, int max)
{
    FMin = min;
    FMax = std::max(min, max);
    FPosition = std::clamp(FPosition, FMin, FMax);
}

void TUpDown::SetPosition(int position)
{
    FPosition = std::clamp(position, FMin, FMax);
}

void TUpDown::Step(int delta)
{
    const int next = FPosition + delta;
    if (next < FMin || next > FMax)
        return;
    FPosition = next;
    emit clicked(FPosition);
}

} // namespace forms
