// The texts of client-defined storages: one storage record of the task's
// storage file, archive names that carry a storage, and the deletion list.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "modules/hx_module_universal.h"
#include "tests/modules/module_test_support.h"

namespace {

using ::testing::HasSubstr;
using Storage = HxModuleUniversal::ClientDefinedStorageInfo;
using Archive = HxModuleUniversal::ClientDefinedArchiveInfo;

const std::string kRecordSignature =
    "static bool HxModuleUniversal::split_client_defined_storage_record(const std::string&, "
    "ClientDefinedStorageInfo&)";
const std::string kDeletionSignature =
    "bool HxModuleUniversal::parse_json_of_client_defined_storage(const std::string&, "
    "std::vector<std::pair<int, std::__cxx11::basic_string<char> > >&)";

std::string nested_arrays(int depth)
{
    return std::string(depth, '[') + std::string(depth, ']');
}

// ---- Storage records ----------------------------------------------------------

struct GoodRecord {
    const char* name;
    std::string line;
    int type;
    int id;
    std::string value;
};

void PrintTo(const GoodRecord& c, std::ostream* out) { *out << c.name; }

const GoodRecord kGoodRecords[] = {
    {"LocalDirectory", R"({"id":12,"method":{"local-directory":"/srv/backups"}})", 1, 12, "/srv/backups"},
    {"EmptyMethodIsDefault", R"({"id":3,"method":{}})", 3, 3, ""},
    {"S3KeepsItsJson", R"({"id":5,"method":{"s3":{"bucket":"b","region":"eu"}}})", 2, 5,
     R"({"bucket":"b","region":"eu"})"},
    {"FirstKnownMemberDecides", R"({"id":1,"method":{"s3":"x","local-directory":"/d"}})", 2, 1, R"("x")"},
    {"LocalBeforeS3", R"({"id":1,"method":{"local-directory":"/d","s3":"x"}})", 1, 1, "/d"},
    {"UnknownMembersPassedOver", R"({"id":1,"method":{"ftp":"h","local-directory":"/d"}})", 1, 1, "/d"},
    {"EscapedBackslashKept", R"({"id":1,"method":{"local-directory":"C:\\dir"}})", 1, 1, R"(C:\\dir)"},
    {"EscapedKeyComparedByContent", R"({"id":1,"method":{"local\u002ddirectory":"/d"}})", 1, 1, "/d"},
    {"OtherRecordMembersIgnored", R"({"name":"x","id":9,"method":{},"extra":[1,2]})", 3, 9, ""},
    {"IdLow32Bits", R"({"id":4294967309,"method":{}})", 3, 13, ""},
    {"IdNegative", R"({"id":-1,"method":{}})", 3, -1, ""},
    {"IdWrapsToNegative", R"({"id":2147483648,"method":{}})", 3, -2147483647 - 1, ""},
    {"IdInt64Max", R"({"id":9223372036854775807,"method":{}})", 3, -1, ""},
    {"DepthThirtyTwoAccepted", R"({"id":1,"method":{},"x":)" + nested_arrays(31) + "}", 3, 1, ""},
};

class StorageRecordGood : public ::testing::TestWithParam<GoodRecord> {};

TEST_P(StorageRecordGood, ParsesTypeIdAndValue)
{
    module_test::LogCapture log;
    Storage info;
    info.value = "stale";
    ASSERT_TRUE(HxModuleUniversal::split_client_defined_storage_record(GetParam().line, info)) << log.text();
    EXPECT_EQ(info.type, GetParam().type);
    EXPECT_EQ(info.id, GetParam().id);
    EXPECT_EQ(info.value, GetParam().value);
    EXPECT_THAT(log.text(), ::testing::Not(HasSubstr("Error")));
}

INSTANTIATE_TEST_SUITE_P(Records, StorageRecordGood, ::testing::ValuesIn(kGoodRecords),
                         [](const auto& info) { return std::string(info.param.name); });

struct BadRecord {
    const char* name;
    std::string line;
    std::string error;  // the text after the signature
};

void PrintTo(const BadRecord& c, std::ostream* out) { *out << c.name; }

const BadRecord kBadRecords[] = {
    {"NotJson", "{id:1}", ": boost::json: "},
    {"TrailingComma", R"({"id":1,"method":{},})", ": boost::json: "},
    {"Comment", R"({"id":1,/*x*/"method":{}})", ": boost::json: "},
    {"InvalidUtf8", "{\"id\":1,\"method\":{\"local-directory\":\"\xff\xfe\"}}", ": boost::json: "},
    {"TooDeep", R"({"id":1,"method":{},"x":)" + nested_arrays(32) + "}", ": boost::json: "},
    {"TrailingGarbage", R"({"id":1,"method":{}} x)", ": boost::json: "},
    {"NotAnObject", R"([{"id":1,"method":{}}])", ": json value is not an object"},
    {"NoId", R"({"method":{}})", ": storage record format is invalid: "},
    {"NoMethod", R"({"id":1})", ": storage record format is invalid: "},
    {"IdWithFraction", R"({"id":1.0,"method":{}})", ": id is not a number: "},
    {"IdWithExponent", R"({"id":1e3,"method":{}})", ": id is not a number: "},
    {"IdAboveInt64", R"({"id":9223372036854775808,"method":{}})", ": id is not a number: "},
    {"IdString", R"({"id":"12","method":{}})", ": id is not a number: "},
    {"MethodString", R"({"id":1,"method":"local-directory"})", ": method is not an object"},
    {"MethodWithoutKnownMember", R"({"id":1,"method":{"ftp":"/d"}})",
     ": can't parse client defined storage json string: "},
};

class StorageRecordBad : public ::testing::TestWithParam<BadRecord> {};

TEST_P(StorageRecordBad, RefusedWithItsRecord)
{
    module_test::LogCapture log;
    Storage info;
    EXPECT_FALSE(HxModuleUniversal::split_client_defined_storage_record(GetParam().line, info));
    EXPECT_THAT(log.text(), HasSubstr(kRecordSignature + GetParam().error));
}

INSTANTIATE_TEST_SUITE_P(Records, StorageRecordBad, ::testing::ValuesIn(kBadRecords),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StorageRecord, ErrorRecordsQuoteTheLine)
{
    module_test::LogCapture log;
    Storage info;
    const std::string line = R"({"id":2.5,"method":{}})";
    EXPECT_FALSE(HxModuleUniversal::split_client_defined_storage_record(line, info));
    EXPECT_THAT(log.text(), HasSubstr(": id is not a number: " + line));
}

// ---- Archive names ----------------------------------------------------------------

struct ArchiveName {
    const char* label;
    std::string name;
    bool splits;
    int type;
    int id;
    std::string plain;
};

void PrintTo(const ArchiveName& c, std::ostream* out) { *out << c.label; }

const ArchiveName kArchiveNames[] = {
    {"LocalDirectory", "local-directory@12@web_full_2024", true, 1, 12, "web_full_2024"},
    {"S3NameKeepsLaterAts", "s3@5@a@b", true, 2, 5, "a@b"},
    {"Default", "default@7@x", true, 3, 7, "x"},
    {"SeparatorNotExamined", "local-directory#4@n", true, 1, 4, "n"},
    {"IdWithBlanksAndSign", "local-directory@ -3@n", true, 1, -3, "n"},
    {"IdDigitsThenText", "local-directory@12abc@n", true, 1, 12, "n"},
    {"AbsolutePathName", "local-directory@1@/srv/store/arch.hxfd", true, 1, 1, "/srv/store/arch.hxfd"},
    {"S3Alone", "s3", false, 0, 0, ""},
    {"DefaultAlone", "default", false, 0, 0, ""},
    {"LocalWithSeparatorOnly", "local-directory@", false, 0, 0, ""},
    {"NoSecondAt", "default@7", false, 0, 0, ""},
    {"EmptyName", "local-directory@7@", false, 0, 0, ""},
    {"NoDigits", "local-directory@x@n", false, 0, 0, ""},
    {"IdOutOfIntRange", "local-directory@2147483648@n", false, 0, 0, ""},
    {"UnknownWord", "ftp@1@n", false, 0, 0, ""},
    {"PlainName", "web_full_2024", false, 0, 0, ""},
    {"Empty", "", false, 0, 0, ""},
};

class ArchiveNameSplit : public ::testing::TestWithParam<ArchiveName> {};

TEST_P(ArchiveNameSplit, TypeIdAndPlainName)
{
    const ArchiveName& c = GetParam();
    Archive info;
    info.type = 99;
    info.id = 98;
    info.name = "untouched";
    ASSERT_EQ(HxModuleUniversal::split_client_defined_archive_name(c.name, info), c.splits);
    if (c.splits) {
        EXPECT_EQ(info.type, c.type);
        EXPECT_EQ(info.id, c.id);
        EXPECT_EQ(info.name, c.plain);
    } else {
        EXPECT_EQ(info.type, 99);
        EXPECT_EQ(info.id, 98);
        EXPECT_EQ(info.name, "untouched");
    }
}

INSTANTIATE_TEST_SUITE_P(Names, ArchiveNameSplit, ::testing::ValuesIn(kArchiveNames),
                         [](const auto& info) { return std::string(info.param.label); });

// ---- Deletion list ------------------------------------------------------------------

struct DeletionCase {
    const char* name;
    std::string json;
    HxModuleUniversal::DeletionList pairs;
    std::string logged;  // a text the log must hold; empty: nothing in particular
};

void PrintTo(const DeletionCase& c, std::ostream* out) { *out << c.name; }

const DeletionCase kDeletions[] = {
    {"EmptyObjectIsDefault", "{}", {{3, ""}}, ""},
    {"LocalDirectory", R"({"a":"local-directory@/srv/backups/web"})", {{1, "/srv/backups/web"}}, ""},
    {"S3", R"({"a":"s3@bucket/key"})", {{2, "bucket/key"}}, ""},
    {"BareWordGivesEmptyText", R"({"a":"local-directory"})", {{1, ""}}, ""},
    {"BareS3GivesEmptyText", R"({"a":"s3"})", {{2, ""}}, ""},
    {"MembersInOrder", R"({"z":"s3@k","a":"local-directory@/d"})", {{2, "k"}, {1, "/d"}}, ""},
    {"EmptyValueSkipped", R"({"a":"","b":"local-directory@/d"})", {{1, "/d"}}, ""},
    {"OtherValueSkipped", R"({"a":"ftp@host","b":"s3@k"})", {{2, "k"}},
     kDeletionSignature + ": wrong client defined storage type here: ftp@host"},
    {"QuotesRemovedFromObjects", R"({"a":{"local-directory":"/d"}})", {},
     kDeletionSignature + ": wrong client defined storage type here: {local-directory:/d}"},
    {"KeyAndValueLogged", R"({"k1":"s3@x"})", {{2, "x"}}, "Key: k1, value: s3@x"},
};

class DeletionList : public ::testing::TestWithParam<DeletionCase> {};

TEST_P(DeletionList, PairsAppendedInOrder)
{
    module_test::LogCapture log;
    module_test::TestModule module;
    HxModuleUniversal::DeletionList list = {{7, "kept"}};
    ASSERT_TRUE(module.parse_json_of_client_defined_storage(GetParam().json, list)) << log.text();
    HxModuleUniversal::DeletionList expected = {{7, "kept"}};
    expected.insert(expected.end(), GetParam().pairs.begin(), GetParam().pairs.end());
    EXPECT_EQ(list, expected);
    if (!GetParam().logged.empty()) {
        EXPECT_THAT(log.text(), HasSubstr(GetParam().logged));
    }
}

INSTANTIATE_TEST_SUITE_P(Json, DeletionList, ::testing::ValuesIn(kDeletions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DeletionListRefused, NotAnObjectOrNotJson)
{
    const std::pair<std::string, std::string> cases[] = {
        {R"(["local-directory@/d"])", ": json value is not an object"},
        {R"("local-directory@/d")", ": json value is not an object"},
        {R"({"a":"s3@k",})", ": exception: "},
        {"{\"a\":" + nested_arrays(32) + "}", ": exception: "},
        {"", ": exception: "},
    };
    for (const auto& c : cases) {
        module_test::LogCapture log;
        module_test::TestModule module;
        HxModuleUniversal::DeletionList list;
        EXPECT_FALSE(module.parse_json_of_client_defined_storage(c.first, list)) << c.first;
        EXPECT_TRUE(list.empty()) << c.first;
        EXPECT_THAT(log.text(), HasSubstr(kDeletionSignature + c.second)) << c.first;
    }
}

TEST(DeletionBase, ReportsEachPairAndDeletesNothing)
{
    module_test::LogCapture log;
    module_test::TestModule module;
    EXPECT_TRUE(module.delete_from_client_defined_storage({{1, "/srv/backups/web"}, {3, ""}}));
    EXPECT_THAT(log.text(), HasSubstr("The module doesn't support deletion from client defined storage"));
    EXPECT_THAT(log.text(), HasSubstr("Type: 1 /srv/backups/web"));
    EXPECT_THAT(log.text(), HasSubstr("Type: 3 "));
}

}  // namespace
