#include "DialogChooser.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

namespace desktop {
namespace {

const char kLastFolder[] = "dialogs/lastFolder";

QString lastFolder() {
    return QSettings().value(kLastFolder).toString();
}

void rememberFolder(const QString& folder) {
    if (!folder.isEmpty()) QSettings().setValue(kLastFolder, folder);
}

}  // namespace

QStringList DialogChooser::filesToBackUp(QWidget* parent) {
    const QStringList files =
        QFileDialog::getOpenFileNames(parent, QObject::tr("Back up files"), lastFolder());
    if (!files.isEmpty()) rememberFolder(QFileInfo(files.first()).absolutePath());
    return files;
}

QString DialogChooser::targetFolder(QWidget* parent) {
    const QString folder =
        QFileDialog::getExistingDirectory(parent, QObject::tr("Restore to folder"), lastFolder());
    rememberFolder(folder);
    return folder;
}

Chooser::Existing DialogChooser::existingFile(QWidget* parent, const QString& path) {
    QMessageBox box(QMessageBox::Question, QObject::tr("File exists"),
                    QObject::tr("%1 already exists.").arg(path), QMessageBox::NoButton, parent);
    box.setInformativeText(QObject::tr("Replace it with the restored file, or keep both?"));
    QPushButton* overwrite = box.addButton(QObject::tr("Overwrite"), QMessageBox::DestructiveRole);
    QPushButton* both = box.addButton(QObject::tr("Keep both"), QMessageBox::AcceptRole);
    box.addButton(QObject::tr("Skip"), QMessageBox::RejectRole);
    box.setDefaultButton(both);
    box.exec();
    if (box.clickedButton() == overwrite) return Existing::Overwrite;
    return box.clickedButton() == both ? Existing::KeepBoth : Existing::Skip;
}

Chooser::Deletion DialogChooser::confirmDeletion(QWidget* parent, const QString& key,
                                                 const QString& user) {
    QMessageBox box(QMessageBox::Warning, QObject::tr("Delete"),
                    QObject::tr("Delete %1 from the store?").arg(key), QMessageBox::NoButton,
                    parent);
    box.setInformativeText(QObject::tr("Its bytes cannot be restored afterwards."));
    if (!user.isEmpty())  // the box owns it
        box.setCheckBox(
            new QCheckBox(QObject::tr("Also delete ALL backup records of %1").arg(user)));
    QPushButton* remove = box.addButton(QObject::tr("Delete"), QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    if (box.clickedButton() != remove) return Deletion::Cancel;
    const bool records = box.checkBox() != nullptr && box.checkBox()->isChecked();
    return records ? Deletion::ObjectAndRecords : Deletion::Object;
}

bool DialogChooser::confirmClose(QWidget* parent, int transfers) {
    return QMessageBox::question(
               parent, QObject::tr("Transfers running"),
               (transfers == 1 ? QObject::tr("A transfer is not finished.")
                               : QObject::tr("%1 transfers are not finished.").arg(transfers)) +
                   QObject::tr("\nStop and quit? The part in flight finishes first; unfinished "
                               "restores leave nothing behind."),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace desktop
