// The service's form reader: the Mingle client's exact bytes (no closing
// delimiter, a file part without a name), the variations other clients
// send, and every kind of damaged body refused with a reason.
#include <gtest/gtest.h>

#include "mingle/MGRequest.h"
#include "platform/graphics/ImageIO.h"
#include "services/FormData.h"
#include "support/TestImages.h"

namespace glowsnap::services {
namespace {

const std::string kBoundary = MGRequest::kStringBoundary;

TEST(FormData, ReadsTheMingleClientsBodyByteForByte) {
  auto image = test::photoLikeImage(40, 30);
  auto jpeg = imageio::encodeJpeg(*image, 0.75f);
  ASSERT_TRUE(jpeg);
  auto body = MGRequest::postBody({{"method", std::string("photos.upload")},
                                   {"caption", std::string("two\r\nlines, \"quoted\"")},
                                   {"empty", std::string()},
                                   {"image", image}});
  ASSERT_TRUE(body);
  std::string bytes = stringFromBytes(*body);
  ASSERT_NE(bytes.substr(bytes.size() - kBoundary.size() - 4), "--" + kBoundary + "--")
      << "the client sends no closing delimiter";
  auto form = readForm("multipart/form-data; boundary=" + kBoundary, bytes);
  ASSERT_TRUE(form) << form.error().description;
  ASSERT_EQ(form->parts.size(), 4u);
  EXPECT_EQ(form->field("caption")->data, "two\r\nlines, \"quoted\"");
  EXPECT_EQ(form->field("empty")->data, "");
  EXPECT_EQ(form->field("method")->data, "photos.upload");
  const FormPart* file = form->firstFile();
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->name, "") << "the client's file part has no name";
  EXPECT_EQ(file->filename, "photo");
  EXPECT_EQ(file->contentType, "image/jpeg");
  EXPECT_TRUE(file->data == stringFromBytes(*jpeg));

  // The same body with a closing delimiter reads the same.
  auto closed = readMultipart(bytes.substr(0, bytes.size() - 2) + "--\r\n", kBoundary);
  ASSERT_TRUE(closed) << closed.error().description;
  EXPECT_EQ(closed->parts.size(), 4u);
}

TEST(FormData, OtherClientsWays) {
  // Bare line feeds, a preamble, a quoted boundary, a file with a name,
  // an empty part written without a line end of its own.
  std::string body =
      "preamble\n--b\nContent-Disposition: form-data; name=\"a\"\n\n1\n--b\n"
      "content-disposition: form-data; name=file; filename=\"x.png\"\n"
      "Content-Type: image/png\n\n\x89PNG\n--b\n"
      "Content-Disposition: form-data; name=\"e\"\n\n--b--\n";
  auto boundary = multipartBoundary("Multipart/Form-Data; charset=utf-8; boundary=\"b\"");
  ASSERT_EQ(boundary, "b");
  auto form = readMultipart(body, *boundary);
  ASSERT_TRUE(form) << form.error().description;
  ASSERT_EQ(form->parts.size(), 3u);
  EXPECT_EQ(form->field("a")->data, "1");
  EXPECT_EQ(form->firstFile()->name, "file");
  EXPECT_EQ(form->firstFile()->data, "\x89PNG");
  EXPECT_EQ(form->field("e")->data, "");
}

TEST(FormData, DamagedBodiesAreRefusedWithAReason) {
  const std::string head = "--B\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n";
  const std::pair<std::string, std::string> cases[] = {
      {head + "cut off here", "cut off"},
      {"no boundary anywhere", "does not start"},
      {"--B\r\nX-Other: 1\r\n\r\nv\r\n--B\r\n", "no Content-Disposition"},
      {"--B\r\nnonsense line\r\n\r\nv\r\n--B\r\n", "without a colon"},
      {"--B\r\nContent-Disposition: form-data; name=a\r\n" + std::string(20000, 'x'),
       "does not end"},
      {"--B\r\nContent-Disposition: attachment\r\n\r\nv\r\n--B\r\n", "not form data"},
      {"--BXY\r\n", "followed by other text"},
  };
  for (const auto& [body, reason] : cases) {
    auto form = readMultipart(body, "B");
    ASSERT_FALSE(form) << body.substr(0, 60);
    EXPECT_NE(form.error().description.find(reason), std::string::npos) << form.error().description;
  }
  std::string many;
  for (std::size_t i = 0; i <= kMaxFormParts; ++i)
    many += "--B\r\nContent-Disposition: form-data; name=\"p\"\r\n\r\nv\r\n";
  many += "--B\r\n";
  EXPECT_FALSE(readMultipart(many, "B"));
  EXPECT_FALSE(readForm("multipart/form-data", head + "v\r\n--B\r\n")) << "no boundary named";
  EXPECT_FALSE(readForm("application/json", "{}"));
}

TEST(FormData, URLEncodedForms) {
  auto form =
      readForm("application/x-www-form-urlencoded; charset=UTF-8", "a=1&b=%20x+y&c&&d=%C3%A9");
  ASSERT_TRUE(form);
  ASSERT_EQ(form->parts.size(), 4u);
  EXPECT_EQ(form->field("b")->data, " x y");
  EXPECT_EQ(form->field("c")->data, "");
  EXPECT_EQ(form->field("d")->data, "\xC3\xA9");
  EXPECT_FALSE(readURLEncoded("a=%zz"));
  EXPECT_FALSE(readURLEncoded("a=%4"));
}

}  // namespace
}  // namespace glowsnap::services
