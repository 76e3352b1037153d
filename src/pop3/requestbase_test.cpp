#include "pop3/requestbase.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/run_state.h"
#include "support/fixed_clock.h"
#include "support/host_dir.h"

namespace postil {
namespace {

std::string Record(std::uint8_t kind, std::uint8_t age, std::string_view id,
                   std::string_view short_text = "SHORT") {
  return FormatRequestRecord({kind, age, std::string(short_text), std::string(id)});
}

class RequestbaseTest : public ::testing::Test {
 protected:
  RequestbaseTest() : old_dir_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_.path());
  }
  ~RequestbaseTest() override { std::filesystem::current_path(old_dir_); }

  void Open(int host_release = 1) { base_.OpenRequestbase(state_, "REQUEST.ID", host_release); }

  test::HostDir dir_;
  std::filesystem::path old_dir_;
  test::FixedClock clock_{test::SampleTime()};
  RunState state_{clock_};
  Requestbase base_;
};

TEST(RequestRecordTest, LayoutOfARecord) {
  std::string bytes = Record(101, 7, "<1@x>", "ab");
  ASSERT_EQ(bytes.size(), 267u);
  EXPECT_EQ(bytes.substr(0, 3), std::string("\x65\x07\x02", 3));
  EXPECT_EQ(bytes.substr(3, 8), "ab      ");
  EXPECT_EQ(bytes[11], 5);
  EXPECT_EQ(bytes.substr(12, 5), "<1@x>");
  EXPECT_EQ(bytes.substr(17), std::string(250, ' '));
  // Texts longer than their fields are cut.
  RequestRecord cut = ParseRequestRecord(Record(100, 0, std::string(300, 'i'), "123456789"));
  EXPECT_EQ(cut.short_text, "12345678");
  EXPECT_EQ(cut.message_id, std::string(255, 'i'));
}

TEST(RequestRecordTest, LengthBytesBeyondTheirFieldAreCut) {
  std::string bytes = Record(102, 0, "<1@x>");
  bytes[2] = static_cast<char>(200);  // short text says 200 of 8
  RequestRecord record = ParseRequestRecord(bytes);
  EXPECT_EQ(record.short_text, "SHORT   ");
  EXPECT_EQ(record.message_id, "<1@x>");
}

TEST_F(RequestbaseTest, RequestsAreOffWithoutTheHostRelease) {
  const std::string file = Record(101, 0, "<1@x>");
  dir_.Write("REQUEST.ID", file);
  Open(0);
  EXPECT_FALSE(base_.IsOpen());
  EXPECT_FALSE(base_.IsFetchRequested("<1@x>"));
  EXPECT_FALSE(base_.MarkRequestDone(state_, "<1@x>"));
  base_.CloseRequestbase(state_);
  EXPECT_EQ(dir_.Read("REQUEST.ID"), file);
}

TEST_F(RequestbaseTest, KindsGiveTheFetchAndDeleteLists) {
  dir_.Write("REQUEST.ID", Record(100, 0, "<both@x>") + Record(101, 0, "<fetch@x>") +
                               Record(102, 0, "<delete@x>") + Record(1, 255, "<served@x>") +
                               Record(0, 0, "<empty@x>") + "partial");
  Open();
  ASSERT_TRUE(base_.IsOpen());
  EXPECT_EQ(base_.Records().size(), 5u);
  EXPECT_TRUE(base_.IsFetchRequested("<both@x>") && base_.IsDeleteRequested("<both@x>"));
  EXPECT_TRUE(base_.IsFetchRequested("<fetch@x>") && !base_.IsDeleteRequested("<fetch@x>"));
  EXPECT_TRUE(!base_.IsFetchRequested("<delete@x>") && base_.IsDeleteRequested("<delete@x>"));
  for (const char* id : {"<served@x>", "<empty@x>", "both", "<both@x><fetch@x>", ""}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(base_.IsFetchRequested(id) || base_.IsDeleteRequested(id));
  }
}

TEST_F(RequestbaseTest, ServedRequestsAreMarkedAtOnce) {
  const std::string other = Record(101, 3, "<other@x>");
  dir_.Write("REQUEST.ID", Record(100, 5, "<a@x>") + Record(102, 9, "<a@x>") + other + "tail");
  Open();
  EXPECT_TRUE(base_.MarkRequestDone(state_, "<a@x>"));
  EXPECT_EQ(dir_.Read("REQUEST.ID"),
            Record(1, 255, "<a@x>") + Record(0, 0, "<a@x>") + other + "tail");
}

TEST_F(RequestbaseTest, UnservedFetchRequestsAgeAndAreDropped) {
  const std::string untouched = Record(102, 7, "<d@x>") + Record(1, 255, "<s@x>");
  dir_.Write("REQUEST.ID", Record(101, 253, "<a@x>") + Record(100, 0, "<b@x>") + untouched);
  Open();
  base_.CloseRequestbase(state_);
  EXPECT_EQ(dir_.Read("REQUEST.ID"),
            Record(101, 254, "<a@x>") + Record(100, 1, "<b@x>") + untouched);
  Requestbase next_run;
  next_run.OpenRequestbase(state_, "REQUEST.ID", 1);
  next_run.CloseRequestbase(state_);
  EXPECT_EQ(dir_.Read("REQUEST.ID"), Record(0, 0, "<a@x>") + Record(100, 2, "<b@x>") + untouched);
}

TEST_F(RequestbaseTest, MissingOrUnreadableFiles) {
  Open();
  EXPECT_TRUE(base_.IsOpen());  // a missing file has no records
  base_.CloseRequestbase(state_);
  EXPECT_FALSE(dir_.Exists("REQUEST.ID"));

  dir_.MakeDir("REQUEST.ID");
  Requestbase unreadable;
  unreadable.OpenRequestbase(state_, "REQUEST.ID", 1);
  EXPECT_FALSE(unreadable.IsOpen());
}

}  // namespace
}  // namespace postil
