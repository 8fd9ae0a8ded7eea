#include "Contracts/oss/aos_transport.h"

#include <curl/curl.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Contracts/oss/aos_crc64.h"
#include "Contracts/oss/aos_curl_code.h"
#include "Contracts/oss/aos_http_io_internal.h"

namespace {

const int64_t kBodyBlock = 64 * 1024;  // body buffer size when the length is unknown

struct SlistGuard {
    curl_slist* list = nullptr;
    ~SlistGuard() { curl_slist_free_all(list); }
};

struct FdGuard {
    int fd = -1;
    ~FdGuard() {
        if (fd >= 0) close(fd);
    }
};

// State shared by the callbacks of one exchange.
struct Transfer {
    aos_pool_t* pool;
    aos_http_request_t* req;
    aos_http_response_t* resp;
    int64_t max_body;

    // A failure found by a callback; wins over libcurl's own code.
    int local_error = AOSE_OK;
    const char* local_msg = nullptr;

    // Request body.
    int fd = -1;
    int64_t read_base = 0;  // file offset of the body's first byte
    int64_t read_len = 0;
    int64_t read_done = 0;
    aos_list_t* mem_cur = nullptr;  // memory body: current buffer and offset in it
    int64_t mem_off = 0;

    // Response body.
    int64_t content_length = -1;
    aos_buf_t* cur_buf = nullptr;

    void Fail(int code, const char* msg) {
        if (local_error == AOSE_OK) {
            local_error = code;
            local_msg = msg;
        }
    }
};

void TrimSpan(const char*& b, const char*& e) {
    while (b < e && (*b == ' ' || *b == '\t')) ++b;
    while (e > b && (e[-1] == ' ' || e[-1] == '\t' || e[-1] == '\r' || e[-1] == '\n')) --e;
}

size_t OnHeader(char* data, size_t size, size_t nitems, void* userdata) {
    Transfer* t = (Transfer*)userdata;
    size_t n = size * nitems;
    const char *b = data, *e = data + n;
    if (n >= 5 && memcmp(data, "HTTP/", 5) == 0) {
        // A new answer (after an interim 1xx one): start over.
        const char* sp = (const char*)memchr(data, ' ', n);
        t->resp->status = sp ? atoi(sp + 1) : 0;
        apr_table_clear(t->resp->headers);
        t->content_length = -1;
        return n;
    }
    const char* colon = (const char*)memchr(data, ':', n);
    if (colon == nullptr) return n;  // the blank line ending the headers
    const char *nb = b, *ne = colon;
    const char *vb = colon + 1, *ve = e;
    TrimSpan(nb, ne);
    TrimSpan(vb, ve);
    if (nb == ne) return n;
    char* name = apr_pstrmemdup(t->pool, nb, (apr_size_t)(ne - nb));
    char* value = apr_pstrmemdup(t->pool, vb, (apr_size_t)(ve - vb));
    apr_table_addn(t->resp->headers, name, value);
    if (strcasecmp(name, "Content-Length") == 0) {
        char* end = nullptr;
        long long v = strtoll(value, &end, 10);
        if (end != value && *end == '\0' && v >= 0) t->content_length = v;
    }
    return n;
}

bool IsObjectBody(const Transfer* t) {
    const int status = t->resp->status;
    return t->req->object_body && status >= 200 && status <= 299;
}

// The most of this answer's body that is kept.
int64_t BodyLimit(const Transfer* t) {
    if (IsObjectBody(t)) return t->max_body;
    return t->max_body < AOS_MAX_DOCUMENT_SIZE ? t->max_body : AOS_MAX_DOCUMENT_SIZE;
}

size_t OnBody(char* data, size_t size, size_t nmemb, void* userdata) {
    Transfer* t = (Transfer*)userdata;
    aos_http_response_t* resp = t->resp;
    int64_t n = (int64_t)(size * nmemb);
    const int64_t limit = BodyLimit(t);
    if (resp->body_len + n > limit) {
        t->Fail(AOSE_OUT_MEMORY, limit == t->max_body ? "response body exceeds max_memory_size"
                                                      : "the store's document exceeds 4 MiB");
        return 0;
    }
    // Only a whole object's body (200) is ever compared with the store's
    // CRC-64; a ranged (206) or error answer is not checksummed for nothing.
    if (resp->status == 200) resp->body_crc64 = aos_crc64(resp->body_crc64, data, (size_t)n);
    resp->body_len += n;
    const char* src = data;
    // The caller's buffer first: the bytes are copied once, to where they
    // are used.
    aos_buf_t* own = IsObjectBody(t) ? t->req->object_buf : nullptr;
    if (own != nullptr && own->last < own->end) {
        int64_t k = own->end - own->last;
        if (k > n) k = n;
        memcpy(own->last, src, (size_t)k);
        own->last += k;
        src += k;
        n -= k;
    }
    while (n > 0) {
        aos_buf_t* b = t->cur_buf;
        if (b == nullptr || b->last == b->end) {
            int64_t want = kBodyBlock;
            int64_t rest = t->content_length - (resp->body_len - n);
            if (t->content_length >= 0 && rest > 0 && rest <= limit) want = rest;
            if (want < n) want = n;
            b = aos_create_buf(t->pool, want);
            aos_list_add_tail(&b->node, &resp->body);
            t->cur_buf = b;
        }
        int64_t k = b->end - b->last;
        if (k > n) k = n;
        memcpy(b->last, src, (size_t)k);
        b->last += k;
        src += k;
        n -= k;
    }
    return size * nmemb;
}

size_t OnReadFile(char* buffer, size_t size, size_t nitems, void* userdata) {
    Transfer* t = (Transfer*)userdata;
    int64_t want = t->read_len - t->read_done;
    if (want > (int64_t)(size * nitems)) want = (int64_t)(size * nitems);
    if (want <= 0) return 0;
    ssize_t got;
    do {
        got = pread(t->fd, buffer, (size_t)want, (off_t)(t->read_base + t->read_done));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        t->Fail(AOSE_READ_BODY_ERROR,
                got == 0 ? "the file ended before the range to send" : "reading the file failed");
        return CURL_READFUNC_ABORT;
    }
    t->read_done += got;
    t->resp->sent_len += got;
    t->resp->sent_crc64 = aos_crc64(t->resp->sent_crc64, buffer, (size_t)got);
    return (size_t)got;
}

size_t OnReadMemory(char* buffer, size_t size, size_t nitems, void* userdata) {
    Transfer* t = (Transfer*)userdata;
    aos_list_t* head = &t->req->body;
    size_t room = size * nitems, done = 0;
    while (room > 0 && t->mem_cur != head) {
        aos_buf_t* b = aos_list_entry(t->mem_cur, aos_buf_t, node);
        int64_t left = aos_buf_size(b) - t->mem_off;
        if (left <= 0) {
            t->mem_cur = t->mem_cur->next;
            t->mem_off = 0;
            continue;
        }
        size_t k = (size_t)left < room ? (size_t)left : room;
        memcpy(buffer + done, b->pos + t->mem_off, k);
        t->mem_off += (int64_t)k;
        done += k;
        room -= k;
    }
    t->resp->sent_len += (int64_t)done;
    t->resp->sent_crc64 = aos_crc64(t->resp->sent_crc64, buffer, done);
    return done;
}

// libcurl rewinds the body when it has to send it again; only a rewind to
// the start is needed, and it restarts the checksum too.
int OnSeek(void* userdata, curl_off_t offset, int origin) {
    Transfer* t = (Transfer*)userdata;
    if (origin != SEEK_SET || offset != 0) return CURL_SEEKFUNC_CANTSEEK;
    t->read_done = 0;
    t->mem_cur = t->req->body.next;
    t->mem_off = 0;
    t->resp->sent_len = 0;
    t->resp->sent_crc64 = 0;
    return CURL_SEEKFUNC_OK;
}

int Fail(aos_pool_t* p, aos_status_t* s, int code, const char* msg) {
    aos_status_fail(p, s, code, msg);
    return code;
}

bool HasLineBreak(const char* s) {
    return strpbrk(s, "\r\n") != nullptr;
}

// "Name: value" lines; an empty value is sent with libcurl's "Name;" form.
int BuildHeaderList(aos_pool_t* p, const aos_table_t* headers, SlistGuard* out) {
    const apr_array_header_t* arr = apr_table_elts(headers);
    const apr_table_entry_t* e = (const apr_table_entry_t*)arr->elts;
    for (int i = 0; i < arr->nelts; ++i) {
        if (e[i].key == nullptr || e[i].val == nullptr) continue;
        if (HasLineBreak(e[i].key) || HasLineBreak(e[i].val) || strchr(e[i].key, ':'))
            return AOSE_INVALID_ARGUMENT;
        const char* line = e[i].val[0] ? apr_psprintf(p, "%s: %s", e[i].key, e[i].val)
                                       : apr_psprintf(p, "%s;", e[i].key);
        curl_slist* next = curl_slist_append(out->list, line);
        if (next == nullptr) return AOSE_OUT_MEMORY;
        out->list = next;
    }
    // Bodies go out at once (no 100-continue round trip).
    curl_slist* next = curl_slist_append(out->list, "Expect:");
    if (next == nullptr) return AOSE_OUT_MEMORY;
    out->list = next;
    return AOSE_OK;
}

int OpenBodyFile(Transfer* t, FdGuard* fd, aos_status_t* s) {
    aos_http_request_t* req = t->req;
    fd->fd = open(req->file_path, O_RDONLY | O_CLOEXEC);
    if (fd->fd < 0) {
        return Fail(t->pool, s, AOSE_OPEN_FILE_ERROR,
                    apr_psprintf(t->pool, "cannot open %s: %s", req->file_path, strerror(errno)));
    }
    struct stat st;
    if (fstat(fd->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return Fail(t->pool, s, AOSE_OPEN_FILE_ERROR,
                    apr_psprintf(t->pool, "%s is not a readable regular file", req->file_path));
    }
    int64_t size = (int64_t)st.st_size;
    int64_t first = req->file_pos;
    int64_t last = (req->file_last < 0 || req->file_last > size) ? size : req->file_last;
    if (first < 0 || (req->file_last >= 0 && req->file_last < first)) {
        return Fail(t->pool, s, AOSE_INVALID_ARGUMENT, "invalid file range");
    }
    if (first > last) first = last;  // a range past the end sends nothing
    t->fd = fd->fd;
    t->read_base = first;
    t->read_len = last - first;
    return AOSE_OK;
}

#define SETOPT(h, opt, val)                                                        \
    do {                                                                           \
        if (curl_easy_setopt((h), (opt), (val)) != CURLE_OK) setopt_failed = true; \
    } while (0)

}  // namespace

aos_http_request_t* aos_http_request_create(aos_pool_t* p) {
    aos_http_request_t* r = (aos_http_request_t*)apr_pcalloc(p, sizeof(*r));
    r->pool = p;
    r->headers = apr_table_make(p, 8);
    r->body_type = AOS_BODY_NONE;
    aos_list_init(&r->body);
    r->file_last = -1;
    return r;
}

aos_http_response_t* aos_http_response_create(aos_pool_t* p) {
    aos_http_response_t* r = (aos_http_response_t*)apr_pcalloc(p, sizeof(*r));
    r->headers = apr_table_make(p, 16);
    aos_list_init(&r->body);
    return r;
}

int aos_http_send_request(const aos_http_request_options_t* opts, aos_http_request_t* req,
                          aos_http_response_t* resp, aos_status_t* s) {
    aos_pool_t* p = req->pool;
    aos_http_request_options_t defaults;
    if (opts == nullptr) {
        aos_http_request_options_set_defaults(&defaults);
        opts = &defaults;
    }
    CURL* h = aos_http_io_thread_handle();
    if (h == nullptr) {
        return Fail(p, s, AOSE_FAILED_INITIALIZE,
                    "aos_http_io_initialize has not been called on this thread");
    }

    Transfer t;
    t.pool = p;
    t.req = req;
    t.resp = resp;
    t.max_body = opts->max_memory_size > 0 ? opts->max_memory_size : AOS_DEFAULT_MAX_MEMORY_SIZE;

    SlistGuard headers;
    int rc = BuildHeaderList(p, req->headers, &headers);
    if (rc != AOSE_OK) {
        return Fail(p, s, rc, rc == AOSE_INVALID_ARGUMENT ? "invalid header name or value" : NULL);
    }

    FdGuard fd;
    int64_t body_len = 0;
    if (req->body_type == AOS_BODY_FILE) {
        rc = OpenBodyFile(&t, &fd, s);
        if (rc != AOSE_OK) return rc;
        body_len = t.read_len;
    } else if (req->body_type == AOS_BODY_MEMORY) {
        body_len = aos_buf_list_len(&req->body);
        t.mem_cur = req->body.next;
    }

    char errbuf[CURL_ERROR_SIZE];
    errbuf[0] = '\0';
    bool setopt_failed = false;
    SETOPT(h, CURLOPT_URL, req->url);
    SETOPT(h, CURLOPT_PATH_AS_IS, 1L);  // keys may hold "." and ".." segments
    SETOPT(h, CURLOPT_NOSIGNAL, 1L);
    SETOPT(h, CURLOPT_HTTP_VERSION, (long)CURL_HTTP_VERSION_1_1);
    SETOPT(h, CURLOPT_TCP_KEEPALIVE, 1L);
    SETOPT(h, CURLOPT_ERRORBUFFER, errbuf);
    SETOPT(h, CURLOPT_USERAGENT, aos_http_io_user_agent());
    SETOPT(h, CURLOPT_HTTPHEADER, headers.list);
    SETOPT(h, CURLOPT_HEADERFUNCTION, OnHeader);
    SETOPT(h, CURLOPT_HEADERDATA, &t);
    SETOPT(h, CURLOPT_WRITEFUNCTION, OnBody);
    SETOPT(h, CURLOPT_WRITEDATA, &t);
    SETOPT(h, CURLOPT_BUFFERSIZE, 64L * 1024);
    SETOPT(h, CURLOPT_CONNECTTIMEOUT,
           (long)(opts->connect_timeout > 0 ? opts->connect_timeout : AOS_DEFAULT_CONNECT_TIMEOUT));
    SETOPT(h, CURLOPT_DNS_CACHE_TIMEOUT,
           (long)(opts->dns_cache_timeout >= 0 ? opts->dns_cache_timeout
                                               : AOS_DEFAULT_DNS_CACHE_TIMEOUT));
    SETOPT(h, CURLOPT_LOW_SPEED_LIMIT,
           (long)(opts->speed_limit > 0 ? opts->speed_limit : AOS_DEFAULT_SPEED_LIMIT));
    SETOPT(h, CURLOPT_LOW_SPEED_TIME,
           (long)(opts->speed_time > 0 ? opts->speed_time : AOS_DEFAULT_SPEED_TIME));
    SETOPT(h, CURLOPT_SSL_VERIFYPEER, opts->verify_peer ? 1L : 0L);
    SETOPT(h, CURLOPT_SSL_VERIFYHOST, opts->verify_host ? 2L : 0L);
    if (opts->ca_file) SETOPT(h, CURLOPT_CAINFO, opts->ca_file);

    switch (req->method) {
        case HTTP_GET:
            SETOPT(h, CURLOPT_HTTPGET, 1L);
            break;
        case HTTP_HEAD:
            SETOPT(h, CURLOPT_NOBODY, 1L);
            break;
        case HTTP_DELETE:
            SETOPT(h, CURLOPT_CUSTOMREQUEST, "DELETE");
            break;
        case HTTP_PUT:
        case HTTP_POST:
            // Both stream the body from the read callback with a known length.
            SETOPT(h, CURLOPT_UPLOAD, 1L);
            SETOPT(h, CURLOPT_INFILESIZE_LARGE, (curl_off_t)body_len);
            SETOPT(h, CURLOPT_READFUNCTION,
                   req->body_type == AOS_BODY_FILE ? OnReadFile : OnReadMemory);
            SETOPT(h, CURLOPT_READDATA, &t);
            SETOPT(h, CURLOPT_SEEKFUNCTION, OnSeek);
            SETOPT(h, CURLOPT_SEEKDATA, &t);
            if (req->method == HTTP_POST) SETOPT(h, CURLOPT_CUSTOMREQUEST, "POST");
            break;
        default:
            return Fail(p, s, AOSE_INVALID_ARGUMENT, "unknown HTTP method");
    }
    if (setopt_failed) {
        curl_easy_reset(h);
        return Fail(p, s, AOSE_INTERNAL_ERROR, "libcurl refused an option");
    }

    resp->status = 0;
    CURLcode cc = curl_easy_perform(h);
    // Nothing of this exchange may outlive it in the reused handle.
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, (char*)NULL);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, (curl_slist*)NULL);

    if (t.local_error != AOSE_OK) return Fail(p, s, t.local_error, t.local_msg);
    if (cc != CURLE_OK) {
        const char* msg = errbuf[0] ? errbuf : curl_easy_strerror(cc);
        return Fail(p, s, aos_curl_code_to_status(cc), msg);
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status > 0) resp->status = (int)status;
    if (resp->status <= 0) return Fail(p, s, AOSE_SERVICE_ERROR, "no HTTP status in the answer");
    return AOSE_OK;
}
