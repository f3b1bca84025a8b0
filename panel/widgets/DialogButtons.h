#pragma once

#include <QDialogButtonBox>

class QBoxLayout;
class QDialog;

namespace panel {

// Ok and Cancel at the foot of a dialog, added to its layout: Ok (named
// okName) is the default button, Cancel (cancelName) rejects. The box is
// returned for its accepted signal.
QDialogButtonBox* OkCancelButtons(QDialog* dialog, QBoxLayout* layout, const char* okName,
                                  const char* cancelName = "CancelBtn");

// The same with Ok running the dialog's finish, which accepts when what was
// entered holds.
template <typename Dialog>
void AddOkCancel(Dialog* dialog, QBoxLayout* layout, const char* okName, void (Dialog::*finish)(),
                 const char* cancelName = "CancelBtn")
{
    QObject::connect(OkCancelButtons(dialog, layout, okName, cancelName), &QDialogButtonBox::accepted, dialog, finish);
}

}  // namespace panel
