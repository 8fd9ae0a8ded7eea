// Object-store operations: one self-contained store request context each.
#ifndef NIMBRA_OSSOPERATE_H
#define NIMBRA_OSSOPERATE_H

#endif  // NIMBRA_OSSOPERATE_H
