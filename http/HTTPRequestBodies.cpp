// Bodies and files: request bodies in memory or on disk, their gzip form,
// downloads to files (resumed or not) and the temporary files behind them.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#include "http/GzipCodec.h"
#include "http/HTTPInputStream.h"
#include "http/HTTPRequest.h"
#include "platform/foundation/Paths.h"

namespace glowsnap {

namespace fs = std::filesystem;

namespace {

std::atomic<std::uint64_t>& maxUncompressedLength() {
  static std::atomic<std::uint64_t> length{256ull << 20};
  return length;
}

std::shared_ptr<const Error> posixError(const std::error_code& ec) {
  auto e = std::make_shared<Error>();
  e->domain = HTTPReadStream::kPOSIXErrorDomain;
  e->code = ec.value();
  e->description = ec.message();
  return e;
}
// Moves a file, copying when source and destination are on different file
// systems (the temporary directory often is).
std::error_code moveFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec == std::errc::cross_device_link) {
    ec.clear();
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::remove(from, ec);
  }
  return ec;
}
}  // namespace

// --- class-wide ----------------------------------------------------------------

std::optional<Bytes> HTTPRequest::compressData(const Bytes& data) {
  return GzipCodec::compressData(data);
}

std::optional<Bytes> HTTPRequest::uncompressZippedData(const Bytes& data) {
  return GzipCodec::uncompressZippedData(data, maxUncompressedDataLength());
}

int HTTPRequest::compressDataFromFile(const std::string& source, const std::string& destination) {
  return GzipCodec::compressDataFromFile(source, destination);
}

int HTTPRequest::uncompressZippedDataFromFile(const std::string& source,
                                              const std::string& destination) {
  return GzipCodec::uncompressZippedDataFromFile(source, destination);
}

void HTTPRequest::setMaxUncompressedDataLength(std::uint64_t bytes) {
  maxUncompressedLength().store(std::min<std::uint64_t>(bytes, UINT64_MAX - 1));
}

std::uint64_t HTTPRequest::maxUncompressedDataLength() { return maxUncompressedLength().load(); }
std::string HTTPRequest::temporaryFilePath() {
  static std::mutex lock;
  static std::mt19937_64 gen{std::random_device{}()};
  std::uint64_t a, b;
  {
    std::lock_guard guard(lock);
    a = gen();
    b = gen();
  }
  char name[40];
  std::snprintf(name, sizeof name, "%016llx%016llx", static_cast<unsigned long long>(a),
                static_cast<unsigned long long>(b));
  auto dir = paths::temporaryDirectory();
  paths::ensureDirectory(dir);
  return (dir / name).string();
}

// --- request bodies --------------------------------------------------------------

void HTTPRequest::setupPostBody() {
  if (shouldStreamPostDataFromDisk_) {
    if (!postBodyFilePath_) {
      postBodyFilePath_ = temporaryFilePath();
      didCreateTemporaryPostDataFile_ = true;
    }
    if (!postBodyWriteStream_) {
      postBodyWriteStream_ = std::make_unique<FileOutputStream>(*postBodyFilePath_, false);
      if (!postBodyWriteStream_->open())
        failWithError(makeError(kFileManagementError,
                                "Unable to write to file at '" + *postBodyFilePath_ + "'"));
    }
  } else if (!postBody_) {
    postBody_.emplace();
  }
}

void HTTPRequest::appendPostData(const Bytes& data) {
  setupPostBody();
  if (data.empty()) return;
  if (shouldStreamPostDataFromDisk_) {
    if (!postBodyWriteStream_->write(data.data(), data.size()))
      failWithError(makeError(kFileManagementError,
                              "Unable to write to file at '" + *postBodyFilePath_ + "'"));
  } else {
    postBody_->insert(postBody_->end(), data.begin(), data.end());
  }
}

void HTTPRequest::appendPostDataFromFile(const std::string& path) {
  setupPostBody();
  if (shouldStreamPostDataFromDisk_ && postBodyWriteStream_ && postBodyWriteStream_->isOpen()) {
    // File to file: 262144 bytes at a time, without passing through memory.
    if (!postBodyWriteStream_->appendContentsOfFile(path, 262144))
      failWithError(makeError(kFileManagementError, "Unable to read file at '" + path +
                                                        "': " + postBodyWriteStream_->lastError()));
    return;
  }
  auto input = InputStream::withFileAtPath(path);
  if (!input->open()) {
    // Sending the body without the file's bytes would look like success.
    failWithError(makeError(kFileManagementError, "Unable to read file at '" + path + "'"));
    return;
  }
  std::vector<std::uint8_t> buffer(262144);
  while (input->hasBytesAvailable()) {
    std::int64_t n = input->read(buffer.data(), buffer.size());
    if (n < 0) {
      failWithError(makeError(kFileManagementError, "Unable to read file at '" + path + "'"));
      break;
    }
    if (n == 0) break;
    if (shouldStreamPostDataFromDisk_) {
      if (!postBodyWriteStream_->write(buffer.data(), static_cast<std::size_t>(n))) {
        failWithError(makeError(kFileManagementError,
                                "Unable to write to file at '" + *postBodyFilePath_ + "'"));
        break;
      }
    } else {
      postBody_->insert(postBody_->end(), buffer.begin(), buffer.begin() + n);
    }
  }
  input->close();
}

void HTTPRequest::buildPostBody() {
  if (postBodyFilePath_) {
    if (postBodyWriteStream_) postBodyWriteStream_->close();
    postBodyWriteStream_.reset();
    std::string sent = *postBodyFilePath_;
    if (shouldCompressRequestBody_) {
      compressedPostBodyFilePath_ = temporaryFilePath();
      if (compressDataFromFile(*postBodyFilePath_, *compressedPostBodyFilePath_) != 0)
        failWithError(makeError(kFileManagementError,
                                "Unable to compress file at '" + *postBodyFilePath_ + "'"));
      sent = *compressedPostBodyFilePath_;
    }
    std::error_code ec;
    auto size = fs::file_size(sent, ec);
    postLength_ = ec ? 0 : size;
  } else if (shouldCompressRequestBody_) {
    if (postBody_) compressedPostBody_ = compressData(*postBody_);
    postLength_ = compressedPostBody_ ? compressedPostBody_->size() : 0;
  } else {
    postLength_ = postBody_ ? postBody_->size() : 0;
  }
  if (postLength_ > 0) {
    if (requestMethod_ != "POST" && requestMethod_ != "PUT") requestMethod_ = "POST";
    addRequestHeader("Content-Length", std::to_string(postLength_));
  }
  haveBuiltPostBody_ = true;
}

std::shared_ptr<InputStream> HTTPRequest::makePostBodyReadStream() {
  std::error_code ec;
  if (shouldStreamPostDataFromDisk_ && postBodyFilePath_ && fs::exists(*postBodyFilePath_, ec)) {
    std::string path = *postBodyFilePath_;
    if (compressedPostBodyFilePath_ && fs::exists(*compressedPostBodyFilePath_, ec))
      path = *compressedPostBodyFilePath_;
    return HTTPInputStream::inputStreamWithFileAtPath(path);
  }
  if (postBody_) {
    const Bytes& body =
        shouldCompressRequestBody_ && compressedPostBody_ ? *compressedPostBody_ : *postBody_;
    return HTTPInputStream::inputStreamWithData(body);
  }
  return nullptr;
}

void HTTPRequest::forgetBody() {
  // A 303 answer turns the request into a GET: the body, wherever it is,
  // is no longer sent.
  if (didCreateTemporaryPostDataFile_) {
    std::error_code ec;
    if (postBodyFilePath_) fs::remove(*postBodyFilePath_, ec);
    if (compressedPostBodyFilePath_) fs::remove(*compressedPostBodyFilePath_, ec);
  }
  postBodyFilePath_.reset();
  compressedPostBodyFilePath_.reset();
  compressedPostBody_.reset();
  shouldStreamPostDataFromDisk_ = false;
}

std::shared_ptr<const Error> HTTPRequest::removePostDataFile() {
  std::shared_ptr<const Error> first;
  for (auto* path : {&postBodyFilePath_, &compressedPostBodyFilePath_}) {
    if (!*path) continue;
    std::error_code ec;
    fs::remove(**path, ec);
    if (ec && !first)
      first = makeError(kFileManagementError,
                        "Failed to delete file at " + **path + " with error: " + ec.message(),
                        posixError(ec));
    path->reset();
  }
  return first;
}

void HTTPRequest::removeBodyFilesQuietly() {
  if (!didCreateTemporaryPostDataFile_) return;
  if (postBodyWriteStream_) postBodyWriteStream_->close();
  postBodyWriteStream_.reset();
  (void)removePostDataFile();
}

// --- downloads -------------------------------------------------------------------

void HTTPRequest::writeDownloadedBytes(const std::uint8_t* bytes, std::size_t count) {
  if (!fileDownloadOutputStream_ && !openDownloadStream()) return;
  if (!fileDownloadOutputStream_->write(bytes, count)) {
    auto e = makeError(kFileManagementError,
                       "Unable to write to file at '" + *temporaryFileDownloadPath_ + "'");
    transition(TransferState::kComplete);
    cancelLoad();
    failWithError(e);
  }
}

bool HTTPRequest::openDownloadStream() {
  bool append = false;
  if (temporaryFileDownloadPath_)
    append = allowResumeForFileDownloads_ && !restartDownload_;
  else
    temporaryFileDownloadPath_ = temporaryFilePath();
  fileDownloadOutputStream_ =
      std::make_unique<FileOutputStream>(*temporaryFileDownloadPath_, append);
  if (fileDownloadOutputStream_->open()) return true;
  auto e = makeError(kFileManagementError,
                     "Unable to write to file at '" + *temporaryFileDownloadPath_ + "'");
  fileDownloadOutputStream_.reset();
  transition(TransferState::kComplete);
  cancelLoad();
  failWithError(e);
  return false;
}

std::shared_ptr<const Error> HTTPRequest::finishDownloadFile() {
  if (fileDownloadOutputStream_) fileDownloadOutputStream_->close();
  fileDownloadOutputStream_.reset();
  const std::string temp = *temporaryFileDownloadPath_;
  const std::string dest = *downloadDestinationPath_;
  if (!fs::exists(temp)) {
    // Resumed with nothing more to fetch and nothing kept: make it empty.
    FileOutputStream empty(temp, true);
    empty.open();
  }
  if (isResponseCompressed()) {
    // Decoded next to the destination and renamed, so a corrupt body never
    // leaves a half-written destination behind.
    std::string part = (fs::path(dest).parent_path() /
                        (fs::path(dest).filename().string() + "." +
                         fs::path(temporaryFilePath()).filename().string() + ".part"))
                           .string();
    int status = uncompressZippedDataFromFile(temp, part);
    std::shared_ptr<const Error> e;
    std::error_code ec;
    if (status != 0) {
      fs::remove(part, ec);
      e = makeError(kFileManagementError, "Decompression of " + temp + " failed with code " +
                                              std::to_string(static_cast<short>(status)));
    } else if ((ec = moveFile(part, dest))) {
      fs::remove(part, ec);
      e = makeError(kFileManagementError,
                    "Failed to move file from '" + part + "' to '" + dest + "'", posixError(ec));
    }
    auto removal = removeTemporaryDownloadFile();
    return e ? e : removal;
  }
  std::error_code ec;
  if (fs::exists(dest, ec) || fs::is_symlink(dest, ec)) {
    fs::remove(dest, ec);
    if (ec)
      return makeError(kFileManagementError, "Unable to remove file at path '" + dest + "'",
                       posixError(ec));
  }
  if ((ec = moveFile(temp, dest)))
    return makeError(kFileManagementError,
                     "Failed to move file from '" + temp + "' to '" + dest + "'", posixError(ec));
  temporaryFileDownloadPath_.reset();
  return nullptr;
}

std::shared_ptr<const Error> HTTPRequest::removeTemporaryDownloadFile() {
  std::shared_ptr<const Error> e;
  if (temporaryFileDownloadPath_) {
    std::error_code ec;
    fs::remove(*temporaryFileDownloadPath_, ec);
    if (ec)
      e = makeError(kFileManagementError,
                    "Failed to delete file at " + *temporaryFileDownloadPath_ +
                        " with error: " + ec.message(),
                    posixError(ec));
    temporaryFileDownloadPath_.reset();
  }
  return e;
}

void HTTPRequest::discardDownloadFile() {
  if (!temporaryFileDownloadPath_) return;
  if (fileDownloadOutputStream_) fileDownloadOutputStream_->close();
  fileDownloadOutputStream_.reset();
  if (!allowResumeForFileDownloads_) {
    std::error_code ec;
    fs::remove(*temporaryFileDownloadPath_, ec);
  }
}

}  // namespace glowsnap
