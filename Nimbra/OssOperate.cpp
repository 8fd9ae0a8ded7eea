#include "Nimbra/OssOperate.h"
