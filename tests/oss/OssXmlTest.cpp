// The store's XML documents: well-formed answers, answers split over
// buffers, and malformed or hostile bodies that must fail cleanly.
#include <vector>

#include "Contracts/oss/oss_xml.h"
#include "OssTestPool.h"

using namespace std::string_literals;

namespace {

const char kListPage[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<ListBucketResult>\n"
    "  <Name>nimbra-backup</Name>\n"
    "  <Prefix>photos/</Prefix>\n"
    "  <Marker></Marker>\n"
    "  <MaxKeys>500</MaxKeys>\n"
    "  <Delimiter>/</Delimiter>\n"
    "  <IsTruncated>true</IsTruncated>\n"
    "  <NextMarker>photos/b &amp; c.jpg</NextMarker>\n"
    "  <Contents>\n"
    "    <Key>photos/a.jpg</Key>\n"
    "    <LastModified>2019-03-15T08:20:31.000Z</LastModified>\n"
    "    <ETag>\"5B3C1A2E053D763E1B002CC607C5A0FE\"</ETag>\n"
    "    <Type>Normal</Type>\n"
    "    <Size>344606</Size>\n"
    "    <StorageClass>Standard</StorageClass>\n"
    "    <Owner><ID>0022012</ID><DisplayName>user</DisplayName></Owner>\n"
    "  </Contents>\n"
    "  <Contents>\n"
    "    <Key>photos/b &amp; c.jpg</Key>\n"
    "    <LastModified>2020-01-01T00:00:00.000Z</LastModified>\n"
    "    <ETag>\"E\"</ETag>\n"
    "    <Size>9223372036854775807</Size>\n"
    "  </Contents>\n"
    "  <CommonPrefixes><Prefix>photos/2019/</Prefix></CommonPrefixes>\n"
    "  <CommonPrefixes><Prefix>photos/2020/</Prefix></CommonPrefixes>\n"
    "</ListBucketResult>\n";

const char kPartsPage[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<ListPartsResult>\n"
    "  <Bucket>nimbra-backup</Bucket><Key>big.bin</Key><UploadId>U1</UploadId>\n"
    "  <PartNumberMarker>0</PartNumberMarker>\n"
    "  <NextPartNumberMarker>2</NextPartNumberMarker>\n"
    "  <MaxParts>2</MaxParts>\n"
    "  <IsTruncated>true</IsTruncated>\n"
    "  <Part><PartNumber>1</PartNumber><LastModified>2012-02-23T07:01:34.000Z</LastModified>"
    "<ETag>\"3349DC700140D7F86A0784842780****\"</ETag><Size>10485760</Size></Part>\n"
    "  <Part><PartNumber>2</PartNumber><ETag>\"AB\"</ETag><Size>1</Size></Part>\n"
    "</ListPartsResult>\n";

}  // namespace

class OssXmlTest : public PoolTest {
protected:
    struct Listing {
        int rc;
        std::vector<std::string> keys, sizes, modified, etags, prefixes;
        std::string next_marker;
        int truncated = -7;
    };
    Listing ParseListing(const std::string& body, size_t piece = 0) {
        aos_list_t objects, prefixes;
        aos_list_init(&objects);
        aos_list_init(&prefixes);
        aos_string_t next = aos_null_string;
        Listing l;
        l.rc = oss_list_objects_parse_from_body(pool_, Body(body, piece), &objects, &prefixes,
                                                &next, &l.truncated);
        oss_list_object_content_t* o;
        aos_list_for_each_entry(oss_list_object_content_t, o, &objects, node) {
            l.keys.emplace_back(o->key.data, (size_t)o->key.len);
            l.sizes.emplace_back(o->size.data, (size_t)o->size.len);
            l.modified.emplace_back(o->last_modified.data, (size_t)o->last_modified.len);
            l.etags.emplace_back(o->etag.data, (size_t)o->etag.len);
        }
        oss_list_object_common_prefix_t* cp;
        aos_list_for_each_entry(oss_list_object_common_prefix_t, cp, &prefixes, node) {
            l.prefixes.emplace_back(cp->prefix.data, (size_t)cp->prefix.len);
        }
        if (next.data) l.next_marker.assign(next.data, (size_t)next.len);
        return l;
    }
    int ParseParts(const std::string& body, std::vector<std::pair<std::string, std::string>>* parts,
                   std::string* next = nullptr, int* truncated = nullptr) {
        aos_list_t list;
        aos_list_init(&list);
        aos_string_t marker = aos_null_string;
        int t = -7;
        int rc = oss_list_parts_parse_from_body(pool_, Body(body), &list, &marker, &t);
        oss_list_part_content_t* part;
        aos_list_for_each_entry(oss_list_part_content_t, part, &list, node) {
            parts->emplace_back(part->part_number.data, part->etag.data);
        }
        if (next && marker.data) *next = marker.data;
        if (truncated) *truncated = t;
        return rc;
    }
};

TEST_F(OssXmlTest, ListBucketResultInEveryBufferSplit) {
    for (size_t piece : {0, 1, 7, 64}) {
        Listing l = ParseListing(kListPage, piece);
        ASSERT_EQ(l.rc, AOSE_OK) << piece;
        EXPECT_EQ(l.keys, (std::vector<std::string>{"photos/a.jpg", "photos/b & c.jpg"}));
        EXPECT_EQ(l.sizes, (std::vector<std::string>{"344606", "9223372036854775807"}));
        EXPECT_EQ(l.modified[0], "2019-03-15T08:20:31.000Z");
        EXPECT_EQ(l.etags[0], "\"5B3C1A2E053D763E1B002CC607C5A0FE\"");
        EXPECT_EQ(l.prefixes, (std::vector<std::string>{"photos/2019/", "photos/2020/"}));
        EXPECT_EQ(l.truncated, 1);
        EXPECT_EQ(l.next_marker, "photos/b & c.jpg");
    }
}

TEST_F(OssXmlTest, ListingEndAndEmptyListing) {
    Listing l = ParseListing(
        "<ListBucketResult><IsTruncated>false</IsTruncated><NextMarker></NextMarker>"
        "<Contents><Key> spaced key </Key><Size>0</Size></Contents></ListBucketResult>");
    ASSERT_EQ(l.rc, AOSE_OK);
    EXPECT_EQ(l.truncated, 0);
    EXPECT_EQ(l.next_marker, "");
    EXPECT_EQ(l.keys, (std::vector<std::string>{" spaced key "}));

    l = ParseListing("<ListBucketResult><IsTruncated>false</IsTruncated></ListBucketResult>");
    ASSERT_EQ(l.rc, AOSE_OK);
    EXPECT_TRUE(l.keys.empty());
    EXPECT_TRUE(l.prefixes.empty());
}

TEST_F(OssXmlTest, UrlEncodedNamesAreDecoded) {
    Listing l = ParseListing(
        "<ListBucketResult><EncodingType>url</EncodingType><IsTruncated>true</IsTruncated>"
        "<NextMarker>a%01b</NextMarker>"
        "<Contents><Key>a%01b</Key><Size>1</Size></Contents>"
        "<CommonPrefixes><Prefix>dir%20x/</Prefix></CommonPrefixes></ListBucketResult>");
    ASSERT_EQ(l.rc, AOSE_OK);
    EXPECT_EQ(l.keys[0],
              "a\x01"
              "b");
    EXPECT_EQ(l.prefixes[0], "dir x/");
    EXPECT_EQ(l.next_marker,
              "a\x01"
              "b");
    EXPECT_EQ(ParseListing("<ListBucketResult><EncodingType>url</EncodingType>"
                           "<Contents><Key>bad%zz</Key></Contents></ListBucketResult>")
                  .rc,
              AOSE_XML_PARSE_ERROR);
}

TEST_F(OssXmlTest, TruncatedListingWithoutNextMarkerContinuesAfterItsLastName) {
    Listing l = ParseListing(
        "<ListBucketResult><IsTruncated>true</IsTruncated>"
        "<Contents><Key>a/1</Key></Contents><Contents><Key>a/3</Key></Contents>"
        "<CommonPrefixes><Prefix>a/2/</Prefix></CommonPrefixes></ListBucketResult>");
    ASSERT_EQ(l.rc, AOSE_OK);
    EXPECT_EQ(l.next_marker, "a/3");
    // Truncated with nothing to continue after: the listing could never end.
    EXPECT_EQ(
        ParseListing("<ListBucketResult><IsTruncated>true</IsTruncated></ListBucketResult>").rc,
        AOSE_XML_PARSE_ERROR);
}

TEST_F(OssXmlTest, MalformedListingsFailWithoutPartialResults) {
    const std::string page = kListPage;
    const std::vector<std::string> bad = {
        "",
        "not xml at all",
        page.substr(0, page.size() / 2),                                // cut in the middle
        "<ListBucketResult><Contents><Key>a</Key></ListBucketResult>",  // mismatched close
        "<ListAllMyBucketsResult></ListAllMyBucketsResult>",            // wrong root
        "<Error><Code>x</Code></Error>",
        "<ListBucketResult/><ListBucketResult/>",  // two roots
        "<ListBucketResult><IsTruncated>maybe</IsTruncated></ListBucketResult>",
        // A good entry, then one without a key.
        "<ListBucketResult><Contents><Key>ok</Key></Contents><Contents><Size>1</Size></Contents>"
        "</ListBucketResult>",
        "<ListBucketResult><Contents><Key>k</Key><Size>-1</Size></Contents></ListBucketResult>",
        "<ListBucketResult><Contents><Key>k</Key><Size>9223372036854775808</Size></Contents>"
        "</ListBucketResult>",
        "<ListBucketResult><Contents><Key>k</Key><Size>99999999999999999999999999</Size>"
        "</Contents></ListBucketResult>",
        "<ListBucketResult><Contents><Key>k</Key><Size>1e9</Size></Contents></ListBucketResult>",
        "<ListBucketResult><CommonPrefixes><Prefix></Prefix></CommonPrefixes></ListBucketResult>",
        "<ListBucketResult><Contents><Key>a\0b</Key></Contents></ListBucketResult>"s,
    };
    for (const std::string& body : bad) {
        Listing l = ParseListing(body);
        EXPECT_EQ(l.rc, AOSE_XML_PARSE_ERROR) << body;
        EXPECT_TRUE(l.keys.empty() && l.prefixes.empty()) << body;
        EXPECT_EQ(l.truncated, -7) << body;
    }
}

TEST_F(OssXmlTest, EntityTricksAreNotExpanded) {
    // Internal entity definitions, external entities and unknown entities
    // are refused; numeric references to NUL too.
    const std::vector<std::string> bad = {
        "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]>"
        "<ListBucketResult><Contents><Key>&b;</Key></Contents></ListBucketResult>",
        "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
        "<ListBucketResult><Contents><Key>&x;</Key></Contents></ListBucketResult>",
        "<ListBucketResult><Contents><Key>&unknown;</Key></Contents></ListBucketResult>",
        "<ListBucketResult><Contents><Key>a&#0;b</Key></Contents></ListBucketResult>",
    };
    for (const std::string& body : bad) {
        EXPECT_EQ(ParseListing(body).rc, AOSE_XML_PARSE_ERROR) << body;
    }
    // The predefined and numeric ones are fine.
    Listing l = ParseListing(
        "<ListBucketResult><Contents><Key>&lt;&gt;&amp;&quot;&apos;&#x41;&#66;</Key></Contents>"
        "</ListBucketResult>");
    ASSERT_EQ(l.rc, AOSE_OK);
    EXPECT_EQ(l.keys[0], "<>&\"'AB");
}

TEST_F(OssXmlTest, DeeplyNestedBodyFailsWithoutCrashing) {
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<a>";
    EXPECT_EQ(ParseListing(deep).rc, AOSE_XML_PARSE_ERROR);
    for (int i = 0; i < 100000; ++i) deep += "</a>";
    EXPECT_EQ(ParseListing(deep).rc, AOSE_XML_PARSE_ERROR);
}

TEST_F(OssXmlTest, UploadId) {
    aos_string_t id = aos_null_string;
    ASSERT_EQ(oss_upload_id_parse_from_body(
                  pool_,
                  Body("<?xml version=\"1.0\"?><InitiateMultipartUploadResult><Bucket>b</Bucket>"
                       "<Key>k</Key><UploadId> 0004B9895DBBB6EC98E36 </UploadId>"
                       "</InitiateMultipartUploadResult>",
                       3),
                  &id),
              AOSE_OK);
    EXPECT_TRUE(aos_string_equals(&id, "0004B9895DBBB6EC98E36"));
    for (const char* bad :
         {"<InitiateMultipartUploadResult/>",
          "<InitiateMultipartUploadResult><UploadId></UploadId>"
          "</InitiateMultipartUploadResult>",
          "<Other><UploadId>x</UploadId></Other>", "<InitiateMultipartUploadResult><UploadId>x"}) {
        aos_string_t out = aos_null_string;
        EXPECT_EQ(oss_upload_id_parse_from_body(pool_, Body(bad), &out), AOSE_XML_PARSE_ERROR)
            << bad;
        EXPECT_EQ(out.data, nullptr);
    }
}

TEST_F(OssXmlTest, ListPartsResult) {
    std::vector<std::pair<std::string, std::string>> parts;
    std::string next;
    int truncated = -1;
    ASSERT_EQ(ParseParts(kPartsPage, &parts, &next, &truncated), AOSE_OK);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0], std::make_pair(std::string("1"),
                                       std::string("\"3349DC700140D7F86A0784842780****\"")));
    EXPECT_EQ(parts[1], std::make_pair(std::string("2"), std::string("\"AB\"")));
    EXPECT_EQ(next, "2");
    EXPECT_EQ(truncated, 1);

    parts.clear();
    ASSERT_EQ(ParseParts("<ListPartsResult><IsTruncated>false</IsTruncated></ListPartsResult>",
                         &parts, &next, &truncated),
              AOSE_OK);
    EXPECT_TRUE(parts.empty());
    EXPECT_EQ(truncated, 0);
}

TEST_F(OssXmlTest, MalformedPartListings) {
    for (const char* bad : {
             "<ListPartsResult><Part><PartNumber>0</PartNumber><ETag>e</ETag></Part>"
             "</ListPartsResult>",
             "<ListPartsResult><Part><PartNumber>10001</PartNumber><ETag>e</ETag></Part>"
             "</ListPartsResult>",
             "<ListPartsResult><Part><PartNumber>184467440737095516161</PartNumber><ETag>e</ETag>"
             "</Part></ListPartsResult>",
             "<ListPartsResult><Part><PartNumber>-3</PartNumber><ETag>e</ETag></Part>"
             "</ListPartsResult>",
             "<ListPartsResult><Part><PartNumber>1</PartNumber></Part></ListPartsResult>",
             "<ListPartsResult><Part><ETag>e</ETag></Part></ListPartsResult>",
             "<ListPartsResult><IsTruncated>true</IsTruncated></ListPartsResult>",
             "<ListPartsResult><NextPartNumberMarker>x</NextPartNumberMarker></ListPartsResult>",
             "<ListBucketResult/>",
         }) {
        std::vector<std::pair<std::string, std::string>> parts;
        EXPECT_EQ(ParseParts(bad, &parts), AOSE_XML_PARSE_ERROR) << bad;
        EXPECT_TRUE(parts.empty()) << bad;
    }
}

TEST_F(OssXmlTest, ErrorDocument) {
    aos_status_t* s = aos_status_create(pool_);
    s->code = 403;
    ASSERT_EQ(oss_error_parse_from_body(
                  pool_,
                  Body("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error>\n"
                       "  <Code>SecurityTokenExpired</Code>\n"
                       "  <Message>The security token you provided has expired.</Message>\n"
                       "  <RequestId>5C3D9175B6FC201293AD****</RequestId>\n"
                       "  <HostId>nimbra-backup.oss-cn-hangzhou.aliyuncs.com</HostId>\n</Error>"),
                  s),
              AOSE_OK);
    EXPECT_EQ(s->code, 403);
    EXPECT_STREQ(s->error_code, "SecurityTokenExpired");
    EXPECT_STREQ(s->error_msg, "The security token you provided has expired.");
    EXPECT_STREQ(s->req_id, "5C3D9175B6FC201293AD****");

    aos_status_t* other = aos_status_create(pool_);
    EXPECT_EQ(oss_error_parse_from_body(pool_, Body("<html>Bad Gateway</html>"), other),
              AOSE_XML_PARSE_ERROR);
    EXPECT_EQ(other->error_code, nullptr);
    EXPECT_EQ(other->error_msg, nullptr);
}

TEST_F(OssXmlTest, CompleteBodyListsThePartsEscaped) {
    aos_list_t parts;
    aos_list_init(&parts);
    const char* etags[] = {"\"A1\"", "\"B&<2>\""};
    for (int i = 0; i < 2; ++i) {
        oss_complete_part_content_t* c =
            (oss_complete_part_content_t*)apr_pcalloc(pool_, sizeof(*c));
        aos_str_set(&c->part_number, i == 0 ? "1" : "2");
        aos_str_set(&c->etag, etags[i]);
        aos_list_add_tail(&c->node, &parts);
    }
    aos_list_t body;
    aos_list_init(&body);
    ASSERT_EQ(oss_build_complete_multipart_upload_body(pool_, &parts, &body), AOSE_OK);
    const std::string xml = Text(&body);
    EXPECT_NE(xml.find("<CompleteMultipartUpload><Part><PartNumber>1</PartNumber>"),
              std::string::npos)
        << xml;
    EXPECT_EQ(xml.find("B&<"), std::string::npos) << xml;
    EXPECT_NE(xml.find("&amp;&lt;2&gt;"), std::string::npos) << xml;

    // What the store reads back is exactly what was listed.
    std::string as_list = xml;
    const std::string open = "<CompleteMultipartUpload>", close = "</CompleteMultipartUpload>";
    as_list.replace(as_list.find(open), open.size(), "<ListPartsResult>");
    as_list.replace(as_list.find(close), close.size(), "</ListPartsResult>");
    std::vector<std::pair<std::string, std::string>> back;
    ASSERT_EQ(ParseParts(as_list, &back), AOSE_OK);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1].second, "\"B&<2>\"");

    oss_complete_part_content_t* broken =
        (oss_complete_part_content_t*)apr_pcalloc(pool_, sizeof(*broken));
    aos_str_set(&broken->part_number, "x");
    aos_str_set(&broken->etag, "e");
    aos_list_add_tail(&broken->node, &parts);
    aos_list_t body2;
    aos_list_init(&body2);
    EXPECT_EQ(oss_build_complete_multipart_upload_body(pool_, &parts, &body2),
              AOSE_INVALID_ARGUMENT);
}
