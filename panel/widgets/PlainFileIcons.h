#pragma once

#include <QFileIconProvider>
#include <QIcon>

namespace panel {

// Icons for a file dialog by kind alone (folder, program, file), never by
// the file's content: the desktop's own provider reads every file without a
// suffix to find its type, which for /usr/bin (thousands of programs) leaves
// the listing empty for seconds.
class PlainFileIcons : public QFileIconProvider {
public:
    PlainFileIcons();

    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override;
    QString type(const QFileInfo& info) const override;

private:
    QIcon folder_;
    QIcon program_;
    QIcon file_;
};

}  // namespace panel
