// CWebRequest: one HTTP request to the web API over a libcurl easy handle.
#ifndef NIMBRA_WEBREQUEST_H
#define NIMBRA_WEBREQUEST_H

class CWebRequest {};

#endif  // NIMBRA_WEBREQUEST_H
