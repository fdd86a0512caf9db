// Form bodies byte for byte, in memory and on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "http/FormDataRequest.h"
#include "http/TestEnvironment.h"
#include "support/TestSupport.h"

namespace glowsnap::test {
namespace {

// The body exactly as the request sends it.
std::string bodyOf(FormDataRequest& r) {
  r.buildPostBody();
  auto stream = r.postBodyStream();
  if (!stream) return std::string();
  EXPECT_TRUE(stream->open());
  std::string out;
  std::uint8_t buffer[65536];
  for (std::int64_t n; (n = stream->read(buffer, sizeof buffer)) > 0;)
    out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
  return out;
}

std::shared_ptr<FormDataRequest> form() {
  return FormDataRequest::requestWithURL(URL::parse("http://example.invalid/api/upload"));
}

TEST(FormDataRequest, TheFourteenLineExample) {
  auto r = form();
  r->setPostValue("1", "a");
  r->setPostValue("2", "b");
  r->setData(bytesFromString("\x01\x02part"), "media");
  EXPECT_EQ(r->requestMethod(), "POST");
  std::string expected =
      "--0xKhTmLbOuNdArY\r\n"
      "Content-Disposition: form-data; name=\"a\"\r\n"
      "\r\n"
      "1\r\n"
      "--0xKhTmLbOuNdArY\r\n"
      "Content-Disposition: form-data; name=\"b\"\r\n"
      "\r\n"
      "2\r\n"
      "--0xKhTmLbOuNdArY\r\n"
      "Content-Disposition: form-data; name=\"media\"; filename=\"file\"\r\n"
      "Content-Type: application/octet-stream\r\n"
      "\r\n"
      "\x01\x02part\r\n"
      "--0xKhTmLbOuNdArY--\r\n";
  std::size_t before = 0;
  for ([[maybe_unused]] const auto& e :
       std::filesystem::directory_iterator(testTemporaryDirectory()))
    ++before;
  EXPECT_EQ(bodyOf(*r), expected);
  // A data part makes a body of pieces sent one after another; no file is
  // made for it.
  EXPECT_TRUE(r->shouldStreamPostDataFromDisk());
  EXPECT_FALSE(r->didCreateTemporaryPostDataFile());
  EXPECT_FALSE(r->postBodyFilePath().has_value());
  EXPECT_EQ(r->requestHeaders()->at("Content-Type"),
            "multipart/form-data; boundary=0xKhTmLbOuNdArY");
  EXPECT_EQ(r->requestHeaders()->at("Content-Length"), std::to_string(expected.size()));
  std::size_t after = 0;
  for ([[maybe_unused]] const auto& e :
       std::filesystem::directory_iterator(testTemporaryDirectory()))
    ++after;
  EXPECT_EQ(after, before);
}

TEST(FormDataRequest, TextFieldsOnlyStayInMemory) {
  auto r = form();
  r->setPostValue("x", "name");
  r->setPostValue("y", "name");  // replaces
  r->setPostValue(42, "answer");
  r->setPostValue("gone", "removed");
  r->setPostValue(std::nullopt, "removed");
  EXPECT_EQ(bodyOf(*r),
            "--0xKhTmLbOuNdArY\r\n"
            "Content-Disposition: form-data; name=\"answer\"\r\n\r\n42\r\n"
            "--0xKhTmLbOuNdArY\r\n"
            "Content-Disposition: form-data; name=\"name\"\r\n\r\ny\r\n"
            "--0xKhTmLbOuNdArY--\r\n");
  EXPECT_FALSE(r->postBodyFilePath().has_value());
}

TEST(FormDataRequest, OneDataPartAlone) {
  auto r = form();
  r->setData(bytesFromString("jpeg"), std::string("photo.jpg"), std::string("image/jpeg"), "p");
  EXPECT_EQ(bodyOf(*r),
            "--0xKhTmLbOuNdArY\r\n"
            "Content-Disposition: form-data; name=\"p\"; filename=\"photo.jpg\"\r\n"
            "Content-Type: image/jpeg\r\n\r\njpeg\r\n"
            "--0xKhTmLbOuNdArY--\r\n");
}

TEST(FormDataRequest, NamesCannotBreakTheBody) {
  auto r = form();
  r->setPostValue("v", "a\"b\r\nc");
  r->setData(bytesFromString("d"), std::string("x\".jpg\r\nX-Injected: 1"), std::nullopt, "f");
  std::string body = bodyOf(*r);
  EXPECT_NE(body.find("name=\"a%22b%0D%0Ac\"\r\n"), std::string::npos);
  EXPECT_NE(body.find("filename=\"x%22.jpg%0D%0AX-Injected: 1\"\r\n"), std::string::npos);
  EXPECT_EQ(body.find("\r\nX-Injected"), std::string::npos);
}

TEST(FormDataRequest, FilePartsAreCopiedFromDisk) {
  TempDir dir;
  std::string content(600000, 'q');
  std::ofstream(dir / "big.bin", std::ios::binary) << content;
  auto r = form();
  r->setFile((dir / "big.bin").string(), "upload");
  std::string body = bodyOf(*r);
  EXPECT_EQ(body,
            "--0xKhTmLbOuNdArY\r\n"
            "Content-Disposition: form-data; name=\"upload\"; filename=\"big.bin\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\n" +
                content + "\r\n--0xKhTmLbOuNdArY--\r\n");
}

TEST(FormDataRequest, MissingFileFailsAtOnceWithCode6) {
  TempDir dir;
  RecordingDelegate delegate;
  auto r = form();
  r->setDelegate(&delegate);
  r->setFile((dir / "missing.jpg").string(), "upload");
  ASSERT_NE(r->error(), nullptr);
  EXPECT_EQ(r->error()->code, 6);
  EXPECT_EQ(r->error()->description, "No file exists at " + (dir / "missing.jpg").string());
  EXPECT_EQ(delegate.failed, 1);
  ASSERT_TRUE(r->fileData().has_value());
  EXPECT_EQ(r->fileData()->count("upload"), 1u);
  r->setFile(dir.path().string(), "directory");
  r->start();
  EXPECT_EQ(delegate.failed, 1);
}

TEST(FormDataRequest, AFileThatVanishedBeforeTheStartFailsWithCode8) {
  TempDir dir;
  std::ofstream(dir / "photo.jpg") << "jpeg";
  RecordingDelegate delegate;
  auto r = FormDataRequest::requestWithURL(URL::parse("http://127.0.0.1:9/upload"));
  r->setDelegate(&delegate);
  r->setFile((dir / "photo.jpg").string(), "upload");
  std::filesystem::remove(dir / "photo.jpg");
  std::size_t before = 0;
  for ([[maybe_unused]] const auto& e :
       std::filesystem::directory_iterator(testTemporaryDirectory()))
    ++before;
  r->start();
  ASSERT_NE(r->error(), nullptr);
  EXPECT_EQ(r->error()->code, 8);
  EXPECT_EQ(delegate.failed, 1);
  std::size_t after = 0;
  for ([[maybe_unused]] const auto& e :
       std::filesystem::directory_iterator(testTemporaryDirectory()))
    ++after;
  EXPECT_EQ(after, before);
}

TEST(FormDataRequest, WithoutFieldsItIsAPlainRequest) {
  auto r = form();
  r->buildPostBody();
  EXPECT_EQ(r->requestMethod(), "GET");
  EXPECT_FALSE(r->requestHeaders().has_value());
}

}  // namespace
}  // namespace glowsnap::test
