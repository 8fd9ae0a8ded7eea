// What a drop on the window backs up: each dropped file, and every regular
// file below a dropped folder; symlinks inside folders are not followed.
#ifndef NIMBRA_DESKTOP_DROPPEDFILES_H
#define NIMBRA_DESKTOP_DROPPEDFILES_H

#include <QList>
#include <QStringList>
#include <QUrl>

namespace desktop {

// The local files of `urls`, folders expanded, in a stable order.
QStringList droppedFiles(const QList<QUrl>& urls);

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_DROPPEDFILES_H
