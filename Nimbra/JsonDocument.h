// Owning handle for a parsed or built cJSON tree.
#ifndef NIMBRA_JSONDOCUMENT_H
#define NIMBRA_JSONDOCUMENT_H

#include <cjson/cJSON.h>

#include <memory>

struct CJsonDeleter {
    void operator()(cJSON* pItem) const { cJSON_Delete(pItem); }
};
using CJsonDocument = std::unique_ptr<cJSON, CJsonDeleter>;

#endif  // NIMBRA_JSONDOCUMENT_H
