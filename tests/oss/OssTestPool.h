// A test fixture with the layer initialised and one fresh pool per test.
// The pool holds its own APR reference, so a test may end and restart the
// layer's initialisation without losing it.
#ifndef TESTS_OSS_OSSTESTPOOL_H
#define TESTS_OSS_OSSTESTPOOL_H

#include <apr_general.h>
#include <gtest/gtest.h>

#include <string>

#include "Contracts/oss/aos_buf.h"
#include "Contracts/oss/aos_http_io.h"

class PoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(apr_initialize(), APR_SUCCESS);
        ASSERT_EQ(aos_http_io_initialize(nullptr, 0), AOSE_OK);
        ASSERT_EQ(apr_pool_create_ex(&pool_, nullptr, nullptr, nullptr), APR_SUCCESS);
    }
    void TearDown() override {
        if (pool_) apr_pool_destroy(pool_);
        aos_http_io_deinitialize();
        apr_terminate();
    }

    // A body list holding `text`, split into buffers of `piece` bytes.
    aos_list_t* Body(const std::string& text, size_t piece = 0) {
        aos_list_t* list = (aos_list_t*)apr_palloc(pool_, sizeof(aos_list_t));
        aos_list_init(list);
        if (piece == 0) piece = text.size() ? text.size() : 1;
        for (size_t off = 0; off < text.size(); off += piece) {
            size_t n = std::min(piece, text.size() - off);
            aos_buf_t* b = aos_buf_pack(pool_, text.data() + off, (int64_t)n);
            aos_list_add_tail(&b->node, list);
        }
        return list;
    }

    static std::string Text(const aos_list_t* list) {
        std::string out;
        for (const aos_list_t* it = list->next; it != list; it = it->next) {
            const aos_buf_t* b = aos_list_entry(it, aos_buf_t, node);
            out.append((const char*)b->pos, (size_t)aos_buf_size(b));
        }
        return out;
    }

    aos_pool_t* pool_ = nullptr;
};

#endif  // TESTS_OSS_OSSTESTPOOL_H
