// The questions of Chooser as the application's dialogs.
#ifndef NIMBRA_DESKTOP_DIALOGCHOOSER_H
#define NIMBRA_DESKTOP_DIALOGCHOOSER_H

#include "Chooser.h"

namespace desktop {

class DialogChooser final : public Chooser {
public:
    QStringList filesToBackUp(QWidget* parent) override;
    QString targetFolder(QWidget* parent) override;
    Existing existingFile(QWidget* parent, const QString& path) override;
    Deletion confirmDeletion(QWidget* parent, const QString& key, const QString& user) override;
    bool confirmClose(QWidget* parent, int transfers) override;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_DIALOGCHOOSER_H
