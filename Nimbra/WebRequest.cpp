#include "Nimbra/WebRequest.h"
