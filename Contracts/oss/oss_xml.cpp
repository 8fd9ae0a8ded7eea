#include "Contracts/oss/oss_xml.h"

#include <ctype.h>
#include <expat.h>
#include <mxml.h>
#include <stdlib.h>
#include <string.h>

#include "Contracts/oss/oss_util.h"

namespace {

// Store documents are parsed with expat, not Mini-XML: Mini-XML 3.3 drops
// nodes on some of its error paths (markup after a closing tag of the node
// it loads into, or after the root element) and leaks them, so a malformed
// answer would cost memory on every request. Mini-XML still writes the one
// document the layer builds.

// One element of a parsed document: its name, its own character data (text
// and CDATA sections in order, not its children's) and its child elements.
struct XmlElement {
    const char* name;
    char* text;  // NUL-terminated at text_len
    size_t text_len, text_cap;
    XmlElement* parent;
    XmlElement* first_child;
    XmlElement* last_child;
    XmlElement* next;
};

// The store's documents nest four levels; deeper ones are refused before
// they cost memory.
const int kMaxDepth = 16;

// A parse: expat's parser and the element tree it builds, in a pool of its
// own that goes with the parse (the results are copied to the caller's pool).
struct XmlParse {
    aos_pool_t* pool = nullptr;
    XML_Parser parser = nullptr;
    XmlElement* root = nullptr;
    XmlElement* current = nullptr;
    int depth = 0;
    ~XmlParse() {
        if (parser) XML_ParserFree(parser);
        if (pool) apr_pool_destroy(pool);
    }
};

void XMLCALL OnStartElement(void* data, const XML_Char* name, const XML_Char**) {
    XmlParse* x = (XmlParse*)data;
    if (x->depth == kMaxDepth) {
        XML_StopParser(x->parser, XML_FALSE);
        return;
    }
    XmlElement* e = (XmlElement*)apr_pcalloc(x->pool, sizeof(*e));
    e->name = apr_pstrdup(x->pool, name);
    e->parent = x->current;
    if (x->current == NULL) {
        x->root = e;  // expat allows one root element only
    } else if (x->current->last_child) {
        x->current->last_child->next = e;
    } else {
        x->current->first_child = e;
    }
    if (x->current) x->current->last_child = e;
    x->current = e;
    ++x->depth;
}

void XMLCALL OnEndElement(void* data, const XML_Char*) {
    XmlParse* x = (XmlParse*)data;
    if (x->current == NULL) return;  // after a stop
    x->current = x->current->parent;
    --x->depth;
}

void XMLCALL OnText(void* data, const XML_Char* s, int len) {
    XmlElement* e = ((XmlParse*)data)->current;
    if (e == NULL) return;  // after a stop
    size_t need = e->text_len + (size_t)len + 1;
    if (need > e->text_cap) {
        // Doubling keeps a text delivered in many pieces linear.
        size_t cap = e->text_cap * 2 > need ? e->text_cap * 2 : need;
        char* grown = (char*)apr_palloc(((XmlParse*)data)->pool, cap);
        if (e->text_len) memcpy(grown, e->text, e->text_len);
        e->text = grown;
        e->text_cap = cap;
    }
    memcpy(e->text + e->text_len, s, (size_t)len);
    e->text_len += (size_t)len;
    e->text[e->text_len] = '\0';
}

// The store sends no document type; one could declare entities that expand
// beyond any bound, or name files to read.
void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    XML_StopParser(((XmlParse*)data)->parser, XML_FALSE);
}

// Owns a tree built with Mini-XML.
struct XmlTree {
    mxml_node_t* top = nullptr;
    ~XmlTree() {
        if (top) mxmlDelete(top);
    }
};

// Owns a string from mxmlSaveAllocString.
struct MallocString {
    char* s = nullptr;
    ~MallocString() { free(s); }
};

// Parses the body, buffer by buffer, and returns its root element when it
// is `root_name`; NULL for anything else (empty, malformed, NUL bytes, a
// document type, nested too deep, another root).
XmlElement* LoadDocument(aos_pool_t* p, const aos_list_t* body, const char* root_name,
                         XmlParse* x) {
    if (apr_pool_create(&x->pool, p) != APR_SUCCESS) {
        x->pool = NULL;
        return NULL;
    }
    x->parser = XML_ParserCreate(NULL);
    if (x->parser == NULL) return NULL;
    XML_SetUserData(x->parser, x);
    XML_SetElementHandler(x->parser, OnStartElement, OnEndElement);
    XML_SetCharacterDataHandler(x->parser, OnText);
    XML_SetStartDoctypeDeclHandler(x->parser, OnDoctype);
    for (const aos_list_t* it = body->next; it != body; it = it->next) {
        const aos_buf_t* b = aos_list_entry(it, aos_buf_t, node);
        if (XML_Parse(x->parser, (const char*)b->pos, (int)aos_buf_size(b), XML_FALSE) !=
            XML_STATUS_OK)
            return NULL;
    }
    if (XML_Parse(x->parser, "", 0, XML_TRUE) != XML_STATUS_OK || x->root == NULL ||
        strcmp(x->root->name, root_name) != 0)
        return NULL;
    return x->root;
}

XmlElement* FindChild(XmlElement* parent, const char* name, XmlElement* after = NULL) {
    XmlElement* e = after ? after->next : parent->first_child;
    for (; e; e = e->next) {
        if (strcmp(e->name, name) == 0) return e;
    }
    return NULL;
}

// Text of the first child element `name` as a pool string, or NULL when
// there is none.
char* ChildText(aos_pool_t* p, XmlElement* parent, const char* name) {
    XmlElement* e = FindChild(parent, name);
    if (e == NULL) return NULL;
    return e->text ? apr_pstrmemdup(p, e->text, e->text_len) : apr_pstrdup(p, "");
}

char* Trimmed(char* s) {
    while (isspace((unsigned char)*s)) ++s;
    size_t n = strlen(s);
    while (n > 0 && isspace((unsigned char)s[n - 1])) s[--n] = '\0';
    return s;
}

// "true"/"false" to 1/0; -1 for any other text. Absent is false.
int ParseBool(char* text) {
    if (text == NULL) return 0;
    text = Trimmed(text);
    if (strcmp(text, "true") == 0) return 1;
    if (strcmp(text, "false") == 0) return 0;
    return -1;
}

// Decimal digits only, at most `max`.
bool IsDecimalUpTo(const char* s, unsigned long long max) {
    if (s == NULL || *s == '\0') return false;
    unsigned long long v = 0;
    for (; *s; ++s) {
        if (*s < '0' || *s > '9') return false;
        unsigned d = (unsigned)(*s - '0');
        if (v > (max - d) / 10) return false;
        v = v * 10 + d;
    }
    return true;
}

void SetString(aos_string_t* dst, char* s) {
    dst->data = s;
    dst->len = s ? (int)strlen(s) : 0;
}

// Percent-decodes in place of `s` when url encoding is on.
bool DecodeName(aos_pool_t* p, bool url_encoded, char** s) {
    if (!url_encoded || *s == NULL) return true;
    *s = oss_url_decode(p, *s, (int)strlen(*s));
    return *s != NULL;
}

const unsigned long long kInt64Max = 9223372036854775807ULL;

}  // namespace

int oss_list_objects_parse_from_body(aos_pool_t* p, const aos_list_t* body, aos_list_t* object_list,
                                     aos_list_t* common_prefix_list, aos_string_t* next_marker,
                                     int* truncated) {
    XmlParse parse;
    XmlElement* root = LoadDocument(p, body, "ListBucketResult", &parse);
    if (root == NULL) return AOSE_XML_PARSE_ERROR;

    char* encoding = ChildText(p, root, "EncodingType");
    bool url_encoded = encoding && strcmp(Trimmed(encoding), "url") == 0;
    int is_truncated = ParseBool(ChildText(p, root, "IsTruncated"));
    if (is_truncated < 0) return AOSE_XML_PARSE_ERROR;
    char* marker = ChildText(p, root, "NextMarker");
    if (!DecodeName(p, url_encoded, &marker)) return AOSE_XML_PARSE_ERROR;

    // Collected apart and handed over only when the whole answer is valid.
    aos_list_t objects, prefixes;
    aos_list_init(&objects);
    aos_list_init(&prefixes);
    const char* last_name = NULL;

    for (XmlElement* c = FindChild(root, "Contents"); c; c = FindChild(root, "Contents", c)) {
        oss_list_object_content_t* o = (oss_list_object_content_t*)apr_pcalloc(p, sizeof(*o));
        char* key = ChildText(p, c, "Key");
        char* size = ChildText(p, c, "Size");
        if (key == NULL || *key == '\0' || !DecodeName(p, url_encoded, &key))
            return AOSE_XML_PARSE_ERROR;
        // Kept as text, never refused: the listing reads it as atoll does.
        SetString(&o->key, key);
        SetString(&o->size, size ? Trimmed(size) : apr_pstrdup(p, ""));
        char* lm = ChildText(p, c, "LastModified");
        char* etag = ChildText(p, c, "ETag");
        char* sc = ChildText(p, c, "StorageClass");
        SetString(&o->last_modified, lm ? Trimmed(lm) : apr_pstrdup(p, ""));
        SetString(&o->etag, etag ? Trimmed(etag) : apr_pstrdup(p, ""));
        SetString(&o->storage_class, sc ? Trimmed(sc) : apr_pstrdup(p, ""));
        aos_list_init(&o->node);
        aos_list_add_tail(&o->node, &objects);
        if (last_name == NULL || strcmp(key, last_name) > 0) last_name = key;
    }
    for (XmlElement* c = FindChild(root, "CommonPrefixes"); c;
         c = FindChild(root, "CommonPrefixes", c)) {
        char* prefix = ChildText(p, c, "Prefix");
        if (prefix == NULL || *prefix == '\0' || !DecodeName(p, url_encoded, &prefix))
            return AOSE_XML_PARSE_ERROR;
        oss_list_object_common_prefix_t* cp =
            (oss_list_object_common_prefix_t*)apr_pcalloc(p, sizeof(*cp));
        SetString(&cp->prefix, prefix);
        aos_list_init(&cp->node);
        aos_list_add_tail(&cp->node, &prefixes);
        if (last_name == NULL || strcmp(prefix, last_name) > 0) last_name = prefix;
    }
    if (is_truncated == 1 && (marker == NULL || *marker == '\0')) {
        // Without a marker the next page would start over: continue after
        // the last name of this one, or give up when there is none.
        if (last_name == NULL) return AOSE_XML_PARSE_ERROR;
        marker = apr_pstrdup(p, last_name);
    }

    aos_list_splice_tail(&objects, object_list);
    aos_list_splice_tail(&prefixes, common_prefix_list);
    SetString(next_marker, marker ? marker : apr_pstrdup(p, ""));
    *truncated = is_truncated;
    return AOSE_OK;
}

int oss_upload_id_parse_from_body(aos_pool_t* p, const aos_list_t* body, aos_string_t* upload_id) {
    XmlParse parse;
    XmlElement* root = LoadDocument(p, body, "InitiateMultipartUploadResult", &parse);
    if (root == NULL) return AOSE_XML_PARSE_ERROR;
    char* id = ChildText(p, root, "UploadId");
    if (id == NULL || *(id = Trimmed(id)) == '\0') return AOSE_XML_PARSE_ERROR;
    SetString(upload_id, id);
    return AOSE_OK;
}

int oss_list_parts_parse_from_body(aos_pool_t* p, const aos_list_t* body, aos_list_t* part_list,
                                   aos_string_t* next_part_number_marker, int* truncated) {
    XmlParse parse;
    XmlElement* root = LoadDocument(p, body, "ListPartsResult", &parse);
    if (root == NULL) return AOSE_XML_PARSE_ERROR;
    int is_truncated = ParseBool(ChildText(p, root, "IsTruncated"));
    if (is_truncated < 0) return AOSE_XML_PARSE_ERROR;
    char* next = ChildText(p, root, "NextPartNumberMarker");
    if (next && *(next = Trimmed(next)) != '\0' && !IsDecimalUpTo(next, OSS_MAX_PART_NUM))
        return AOSE_XML_PARSE_ERROR;

    aos_list_t parts;
    aos_list_init(&parts);
    for (XmlElement* c = FindChild(root, "Part"); c; c = FindChild(root, "Part", c)) {
        char* number = ChildText(p, c, "PartNumber");
        char* etag = ChildText(p, c, "ETag");
        if (number == NULL || !IsDecimalUpTo(number = Trimmed(number), OSS_MAX_PART_NUM) ||
            atoi(number) < 1)
            return AOSE_XML_PARSE_ERROR;
        if (etag == NULL || *(etag = Trimmed(etag)) == '\0') return AOSE_XML_PARSE_ERROR;
        char* size = ChildText(p, c, "Size");
        if (size && !IsDecimalUpTo(size = Trimmed(size), kInt64Max)) return AOSE_XML_PARSE_ERROR;
        char* lm = ChildText(p, c, "LastModified");
        oss_list_part_content_t* part = (oss_list_part_content_t*)apr_pcalloc(p, sizeof(*part));
        SetString(&part->part_number, number);
        SetString(&part->etag, etag);
        SetString(&part->size, size ? size : apr_pstrdup(p, ""));
        SetString(&part->last_modified, lm ? Trimmed(lm) : apr_pstrdup(p, ""));
        aos_list_init(&part->node);
        aos_list_add_tail(&part->node, &parts);
    }
    if (is_truncated == 1 && (next == NULL || *next == '\0')) return AOSE_XML_PARSE_ERROR;

    aos_list_splice_tail(&parts, part_list);
    SetString(next_part_number_marker, next ? next : apr_pstrdup(p, ""));
    *truncated = is_truncated;
    return AOSE_OK;
}

int oss_error_parse_from_body(aos_pool_t* p, const aos_list_t* body, aos_status_t* s) {
    XmlParse parse;
    XmlElement* root = LoadDocument(p, body, "Error", &parse);
    if (root == NULL) return AOSE_XML_PARSE_ERROR;
    char* code = ChildText(p, root, "Code");
    char* msg = ChildText(p, root, "Message");
    char* req_id = ChildText(p, root, "RequestId");
    if (code) s->error_code = Trimmed(code);
    if (msg) s->error_msg = msg;
    if (req_id && *(req_id = Trimmed(req_id)) != '\0') s->req_id = req_id;
    return AOSE_OK;
}

int oss_complete_result_parse_from_body(aos_pool_t* p, const aos_list_t* body) {
    XmlParse parse;
    return LoadDocument(p, body, "CompleteMultipartUploadResult", &parse) ? AOSE_OK
                                                                          : AOSE_XML_PARSE_ERROR;
}

int oss_build_complete_multipart_upload_body(aos_pool_t* p, const aos_list_t* part_list,
                                             aos_list_t* body) {
    XmlTree tree;
    tree.top = mxmlNewXML("1.0");
    if (tree.top == NULL) return AOSE_OUT_MEMORY;
    mxml_node_t* root = mxmlNewElement(tree.top, "CompleteMultipartUpload");
    for (const aos_list_t* it = part_list->next; it != part_list; it = it->next) {
        const oss_complete_part_content_t* c =
            aos_list_entry(it, oss_complete_part_content_t, node);
        if (aos_is_null_string(&c->part_number) || aos_is_null_string(&c->etag))
            return AOSE_INVALID_ARGUMENT;
        char* number = aos_pstrdup(p, &c->part_number);
        if (!IsDecimalUpTo(number, OSS_MAX_PART_NUM)) return AOSE_INVALID_ARGUMENT;
        mxml_node_t* part = mxmlNewElement(root, "Part");
        mxmlNewOpaque(mxmlNewElement(part, "PartNumber"), number);
        mxmlNewOpaque(mxmlNewElement(part, "ETag"), aos_pstrdup(p, &c->etag));
    }
    mxmlSetWrapMargin(0);
    MallocString xml;
    xml.s = mxmlSaveAllocString(tree.top, MXML_NO_CALLBACK);
    if (xml.s == NULL) return AOSE_OUT_MEMORY;
    aos_buf_t* b = aos_buf_pack(p, xml.s, (int64_t)strlen(xml.s));
    aos_list_add_tail(&b->node, body);
    return AOSE_OK;
}
