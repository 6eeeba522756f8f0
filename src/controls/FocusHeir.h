#pragma once

class QWidget;

// Where the keys go when the program disables or hides the control that has
// them (a box that ticks and closes itself, an "Eintragen" that has nothing
// left to write). Qt hands them on along the Tab order, to whatever stands
// there: the quit button, the next box that writes, another "Eintragen". A
// second press of the key meant for the control that went would act there,
// and some of those acts the program cannot take back.
namespace FocusHeir {

// Whether Qt is handing on the focus of `area`'s window because the control
// that has it can no longer hold it: disabled or hidden inside `area`.
bool focusGoesFrom(const QWidget* area);

// The control that takes the keys from `lost` instead: a control of its group
// that does nothing on a key of its own (a field, a list), the nearest one
// before it first, as a field stands before the button that writes it; where
// the group has none, `fallback`, which must act on no key.
QWidget* heirOf(const QWidget* lost, QWidget* fallback);

// The stop that Tab (forward) or Shift+Tab goes to from `from`, which may
// itself no longer take the focus; nullptr when there is none.
QWidget* tabStopFrom(const QWidget* from, bool forward);

} // namespace FocusHeir
