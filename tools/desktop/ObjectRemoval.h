// Deleting an object from the store, as nimbra rm does: with a user named,
// ALL of that user's records go too (the web API deletes a user's records
// only all together), and the records are read afterwards, since the library
// does not say whether they went.
#ifndef NIMBRA_DESKTOP_OBJECTREMOVAL_H
#define NIMBRA_DESKTOP_OBJECTREMOVAL_H

#include <QString>
#include <functional>

namespace desktop {

class JobQueue;

// Queues the deletion of `key` (and, when `user` is not empty, of all of
// `user`'s records); `done` gets whether the object went and what happened.
void removeObject(JobQueue& jobs, const QString& key, const QString& user,
                  std::function<void(bool deleted, const QString& text)> done);

}  // namespace desktop

#endif  // NIMBRA_DESKTOP_OBJECTREMOVAL_H
