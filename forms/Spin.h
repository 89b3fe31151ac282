// Two stand-alone arrow controls: the spin button (two arrows that only report their clicks) and
// the up-down control (a position within a range, moved by its arrows, no wrap-around). Holding an
// arrow down repeats its click.
#pragma once

#include <QWidget>

class QToolButton;

namespace forms {

// Up arrow over down arrow, filling the widget. To assistive technology it is a spin control
// named by its window (setAccessibleName) with two arrows, "Больше" and "Меньше".
class TArrowPair : public QWidget {
    Q_OBJECT
public:
    explicit TArrowPair(QWidget* parent = nullptr);
    QToolButton* UpButton() const { return FUp; }
    QToolButton* DownButton() const { return FDown; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    virtual void UpPressed() = 0;
    virtual void DownPressed() = 0;

private:
    QToolButton* FUp;
    QToolButton* FDown;
};

// Takes the focus (by Tab or click); the Up and Down keys click its arrows.
class TSpinButton : public TArrowPair {
    Q_OBJECT
public:
    explicit TSpinButton(QWidget* parent = nullptr);

signals:
    void upClicked();
    void downClicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void UpPressed() override { emit upClicked(); }
    void DownPressed() override { emit downClicked(); }
};

// A position in [Min, Max]. A click moves it by one and reports the new position; a click that
// cannot move (down at Min, up at Max) does nothing. SetPosition clamps to the range and reports
// nothing. Never takes the focus.
class TUpDown : public TArrowPair {
    Q_OBJECT
public:
    explicit TUpDown(QWidget* parent = nullptr);

    int Position() const { return FPosition; }
    void SetPosition(int position);
    int Min() const { return FMin; }
    int Max() const { return FMax; }
    void SetRange(int min, int max);

signals:
    // After a click moved the position.
    void clicked(int position);

protected:
    void UpPressed() override { Step(+1); }
    void DownPressed() override { Step(-1); }

private:
    void Step(int delta);

    int FMin = 0;
    int FMax = 100;
    int FPosition = 0;
};

} // namespace forms
