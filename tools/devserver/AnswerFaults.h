// The faults that act on a store answer once it is made: a wrong
// x-oss-hash-crc64ecma, a body with inverted bytes or cut short but well
// framed, and a connection that drops after K bytes of the body.
#ifndef TOOLS_DEVSERVER_ANSWERFAULTS_H
#define TOOLS_DEVSERVER_ANSWERFAULTS_H

#include "Faults.h"
#include "HttpMessage.h"

namespace devserver {

void ApplyAnswerFaults(const FaultDecision& fault, Answer& answer);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_ANSWERFAULTS_H
