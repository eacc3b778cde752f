// Accessible names for screen readers and desktop automation: every control is found by
// the caption the operator sees.
//
// Buttons, labels, check boxes and group boxes already answer with their caption, and keep
// following it when it changes (a label that the refresh tick rewrites). Here the controls
// without a caption of their own get one: each page of a page control its tab's caption,
// and a named memo, list view, edit box, scroll area or the grid the caption that stands for
// it in the window: its buddy label, else the group box or page it lies on.
#pragma once

class QWidget;

namespace views {

// Names the controls under `root` as above. Run it once the controls are laid out; a
// control that already has an accessible name keeps it.
void NameControlsByCaption(QWidget* root);

}  // namespace views
