#include "DroppedFiles.h"

#include <QDirIterator>
#include <QFileInfo>

namespace desktop {

QStringList droppedFiles(const QList<QUrl>& urls) {
    QStringList files;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile()) continue;
        const QString path = url.toLocalFile();
        const QFileInfo info(path);
        if (!info.isDir()) {
            files << path;  // the backup says what is wrong with anything but a file
            continue;
        }
        if (info.isSymLink()) continue;
        QStringList below;
        // Regular files only (no devices, pipes or sockets), hidden ones too;
        // symlinks neither listed nor descended into.
        QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) below << it.next();
        below.sort();
        files << below;
    }
    return files;
}

}  // namespace desktop
