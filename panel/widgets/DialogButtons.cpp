#include "panel/widgets/DialogButtons.h"

#include "panel/widgets/WindowTools.h"

#include <QBoxLayout>
#include <QDialog>
#include <QPushButton>

namespace panel {

QDialogButtonBox* OkCancelButtons(QDialog* dialog, QBoxLayout* layout, const char* okName, const char* cancelName)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    Named(buttons->button(QDialogButtonBox::Ok), okName)->setDefault(true);
    Named(buttons->button(QDialogButtonBox::Cancel), cancelName);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

}  // namespace panel
