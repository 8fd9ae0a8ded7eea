// Every question the window asks its user, behind one interface: the dialogs
// in the application (DialogChooser), scripted answers in the tests.
#ifndef NIMBRA_DESKTOP_CHOOSER_H
#define NIMBRA_DESKTOP_CHOOSER_H

#include <QString>
#include <QStringList>

class QWidget;

namespace desktop {

class Chooser {
public:
    enum class Existing { Overwrite, KeepBoth, Skip };
    enum class Deletion { Cancel, Object, ObjectAndRecords };

    virtual ~Chooser() = default;

    // Files to back up; empty: none.
    virtual QStringList filesToBackUp(QWidget* parent) = 0;
    // The folder restores or downloads go to; empty: none.
    virtual QString targetFolder(QWidget* parent) = 0;
    // `path` exists where a restored file was to go.
    virtual Existing existingFile(QWidget* parent, const QString& path) = 0;
    // Deleting the object `key`; `user` may have all of their records
    // deleted with it (empty: no user named).
    virtual Deletion confirmDeletion(QWidget* parent, const QString& key, const QString& user) = 0;
    // Closing while transfers run: true to stop them and close.
    virtual bool confirmClose(QWidget* parent, int transfers) = 0;
};

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_CHOOSER_H
