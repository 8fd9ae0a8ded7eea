// An APR pool and the store layer's body lists, for the tests and fuzz targets
// of the layer's parsers and builders.
#ifndef TESTS_UNIT_STOREBODY_H
#define TESTS_UNIT_STOREBODY_H

#include <apr_general.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "Contracts/oss/aos_buf.h"

namespace unit {

// One pool; APR is initialised once per process.
class StorePool {
public:
    StorePool() {
        static const bool initialised = apr_initialize() == APR_SUCCESS;
        if (!initialised || apr_pool_create_ex(&pool_, nullptr, nullptr, nullptr) != APR_SUCCESS)
            std::abort();
    }
    ~StorePool() { apr_pool_destroy(pool_); }
    StorePool(const StorePool&) = delete;
    StorePool& operator=(const StorePool&) = delete;
    aos_pool_t* get() const { return pool_; }

    // `text` as a body list of buffers of `piece` bytes (one buffer when 0).
    aos_list_t* Body(const std::string& text, size_t piece = 0) const {
        auto* list = static_cast<aos_list_t*>(apr_palloc(pool_, sizeof(aos_list_t)));
        aos_list_init(list);
        if (piece == 0) piece = std::max<size_t>(text.size(), 1);
        for (size_t off = 0; off < text.size(); off += piece) {
            const size_t n = std::min(piece, text.size() - off);
            aos_buf_t* buf = aos_buf_pack(pool_, text.data() + off, static_cast<int64_t>(n));
            aos_list_add_tail(&buf->node, list);
        }
        return list;
    }

private:
    aos_pool_t* pool_ = nullptr;
};

// The bytes of a body list, in order.
inline std::string BodyText(const aos_list_t* list) {
    std::string text;
    for (const aos_list_t* it = list->next; it != list; it = it->next) {
        const aos_buf_t* buf = aos_list_entry(it, aos_buf_t, node);
        text.append(reinterpret_cast<const char*>(buf->pos),
                    static_cast<size_t>(aos_buf_size(buf)));
    }
    return text;
}

}  // namespace unit

#endif  // TESTS_UNIT_STOREBODY_H
