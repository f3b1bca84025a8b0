#pragma once

#include <QDialogButtonBox>

class QBoxLayout;
class QDialog;

namespace panel {

// Ok and Cancel at the foot of a dialog, added to its layout: Ok (named
// okName) is the default button, Cancel ("CancelBtn") rejects. The box is
// returned for its accepted signal.
QDialogButtonBox* OkCancelButtons(QDialog* dialog, QBoxLayout* layout, const char* okName);

// The same with Ok running the dialog's finish, which accepts when what was
// entered holds.
template <typename Dialog>
void AddOkCancel(Dialog* dialog, QBoxLayout* layout, const char* okName, void (Dialog::*finish)())
{
    QObject::connect(OkCancelButtons(dialog, layout, okName), &QDialogButtonBox::accepted, dialog, finish);
}

}  // namespace panel
