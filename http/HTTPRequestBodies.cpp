// Bodies and files: request bodies in memory or on disk, their gzip form,
// downloads to files (resumed or not) and the temporary files behind them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "http/GzipCodec.h"
#include "http/HTTPInputStream.h"
#include "http/HTTPRequest.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/TemporaryFiles.h"

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
// An InputStream read through stdio, so that the file-to-file gzip code
// compresses a body made of pieces without a copy of it.
std::FILE* readThroughStdio(const std::shared_ptr<InputStream>& stream) {
  if (!stream->open()) return nullptr;
  auto* holder = new std::shared_ptr<InputStream>(stream);
  cookie_io_functions_t io{};
  io.read = [](void* cookie, char* buffer, std::size_t size) -> ssize_t {
    auto& s = *static_cast<std::shared_ptr<InputStream>*>(cookie);
    std::int64_t n = s->read(reinterpret_cast<std::uint8_t*>(buffer), size);
    return n < 0 ? -1 : static_cast<ssize_t>(n);
  };
  io.close = [](void* cookie) -> int {
    auto* s = static_cast<std::shared_ptr<InputStream>*>(cookie);
    (*s)->close();
    delete s;
    return 0;
  };
  std::FILE* file = ::fopencookie(holder, "r", io);
  if (!file) delete holder;
  return file;
}

// Copies the whole file at source into an open output; the errno of the
// failure, or 0.
int copyInto(const std::string& source, int fd) {
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  std::vector<char> buffer(1 << 20);
  int err = 0;
  for (;;) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      err = errno;
      break;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(fd, buffer.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) {
        err = errno;
        break;
      }
      done += w;
    }
    if (err) break;
  }
  ::close(in);
  return err;
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
  // On disk the body is made of pieces (see appendPostData): nothing is
  // created for it.
  if (!shouldStreamPostDataFromDisk_ && !postBody_) postBody_.emplace();
}

void HTTPRequest::appendPostData(const Bytes& data) {
  setupPostBody();
  if (data.empty()) return;
  if (shouldStreamPostDataFromDisk_)
    postBodyPieces_.appendBytes(data);
  else
    postBody_->insert(postBody_->end(), data.begin(), data.end());
}

void HTTPRequest::appendPostDataFromFile(const std::string& path) {
  setupPostBody();
  if (shouldStreamPostDataFromDisk_) {
    // Sent from the file itself when the body goes out.
    if (auto problem = postBodyPieces_.appendFile(path))
      failWithError(makeError(kFileManagementError, *problem));
    return;
  }
  // Sending the body without the file's bytes would look like success.
  struct stat st {};
  const int err = ::stat(path.c_str(), &st) != 0 ? errno : 0;
  if (err || S_ISDIR(st.st_mode)) {
    failWithError(makeError(kFileManagementError,
                            "Unable to read file at '" + path + "': " +
                                (err ? std::strerror(err) : "it is a directory")));
    return;
  }
  auto input = InputStream::withFileAtPath(path);
  if (!input->open()) {
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
    postBody_->insert(postBody_->end(), buffer.begin(), buffer.begin() + n);
  }
  input->close();
}

void HTTPRequest::buildPostBody() {
  if (shouldStreamPostDataFromDisk_ || postBodyFilePath_) {
    // The caller's body file first, then what was appended, each sent from
    // where it is.
    sentBody_.clear();
    if (postBodyFilePath_) {
      if (auto problem = sentBody_.appendFile(*postBodyFilePath_))
        failWithError(makeError(kFileManagementError, *problem));
    }
    if (postBody_) sentBody_.appendBytes(*postBody_);
    sentBody_.append(postBodyPieces_);
    postLength_ = sentBody_.length();
    if (shouldCompressRequestBody_ && !error()) {
      compressedPostBodyFilePath_ = temporaryFilePath();
      TemporaryFiles::track(*compressedPostBodyFilePath_);
      std::FILE* out = std::fopen(compressedPostBodyFilePath_->c_str(), "wb");
      std::FILE* in = out ? readThroughStdio(sentBody_.inputStream()) : nullptr;
      int status = in ? GzipCodec::compressDataFromSource(in, out) : -1;
      if (in) std::fclose(in);
      if (out && std::fclose(out) != 0) status = -1;
      if (status != 0)
        failWithError(makeError(kFileManagementError,
                                "Unable to compress the request body into '" +
                                    *compressedPostBodyFilePath_ + "'"));
      std::error_code ec;
      auto size = fs::file_size(*compressedPostBodyFilePath_, ec);
      postLength_ = ec ? 0 : size;
    }
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
  if (compressedPostBodyFilePath_ && fs::exists(*compressedPostBodyFilePath_, ec))
    return HTTPInputStream::inputStreamWithFileAtPath(*compressedPostBodyFilePath_);
  if (shouldStreamPostDataFromDisk_ || postBodyFilePath_) {
    if (sentBody_.empty()) return nullptr;
    return std::make_shared<HTTPInputStream>(sentBody_.inputStream());
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
  removeBodyFilesQuietly();
  postBodyFilePath_.reset();
  compressedPostBodyFilePath_.reset();
  compressedPostBody_.reset();
  postBodyPieces_.clear();
  sentBody_.clear();
  shouldStreamPostDataFromDisk_ = false;
}

std::shared_ptr<const Error> HTTPRequest::removePostDataFile() {
  std::shared_ptr<const Error> first;
  // A body file the caller gave stays; the gzip form is always the
  // request's own.
  for (auto* path : {&postBodyFilePath_, &compressedPostBodyFilePath_}) {
    if (!*path) continue;
    if (path == &postBodyFilePath_ && !didCreateTemporaryPostDataFile_) continue;
    std::error_code ec;
    fs::remove(**path, ec);
    TemporaryFiles::untrack(**path);
    if (ec && !first)
      first = makeError(kFileManagementError,
                        "Failed to delete file at " + **path + " with error: " + ec.message(),
                        posixError(ec));
    path->reset();
  }
  return first;
}

void HTTPRequest::removeBodyFilesQuietly() { (void)removePostDataFile(); }

// --- downloads -------------------------------------------------------------------

std::shared_ptr<const Error> HTTPRequest::checkDownloadOutputs() {
  downloadTarget_.reset();
  partialFinalPath_.reset();
  if (responseBodyConsumer_ || !downloadDestinationPath_) return nullptr;
  auto target = AtomicFile::resolveOutput(*downloadDestinationPath_);
  if (!target) return makeError(kFileManagementError, target.error().description);
  downloadTarget_ = std::move(target).value();
  if (temporaryFileDownloadPath_) {
    auto part = AtomicFile::resolveOutput(*temporaryFileDownloadPath_);
    if (!part) return makeError(kFileManagementError, part.error().description);
    if (part.value().stream)
      return makeError(kFileManagementError,
                       *temporaryFileDownloadPath_ + ": a partial download must be a regular file");
    partialFinalPath_ = part.value().path.string();
  }
  return nullptr;
}

bool HTTPRequest::partialDownloadIsComplete() const {
  if (!responseHeaders_) return false;
  auto it = responseHeaders_->find("Content-Range");
  if (it == responseHeaders_->end()) return false;
  // "bytes */N": the length of the whole body.
  const std::string& v = it->second;
  auto slash = v.find("*/");
  if (v.rfind("bytes", 0) != 0 || slash == std::string::npos) return false;
  std::string digits = v.substr(slash + 2);
  while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t')) digits.pop_back();
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  return leadingLength(digits) == partialDownloadSize_;
}

void HTTPRequest::writeDownloadedBytes(const std::uint8_t* bytes, std::size_t count) {
  // The page of a 416 that confirmed the partial file is not the body.
  if (downloadAlreadyComplete_) return;
  if (!fileDownloadOutputStream_ && !downloadFile_ && !openDownloadStream()) return;
  std::string problem;
  if (downloadFile_) {
    if (auto s = downloadFile_->write(bytes, count); !s) problem = s.error().description;
  } else if (!fileDownloadOutputStream_->write(bytes, count)) {
    problem = "Unable to write to file at '" + fileDownloadOutputStream_->path().string() +
              "': " + fileDownloadOutputStream_->lastError();
  }
  if (!problem.empty()) {
    auto e = makeError(kFileManagementError, problem);
    transition(TransferState::kComplete);
    cancelLoad();
    failWithError(e);
  }
}

bool HTTPRequest::openDownloadStream() {
  std::string problem;
  if (temporaryFileDownloadPath_) {
    // The partial file the caller named (written through a symlink).
    const bool append = allowResumeForFileDownloads_ && !restartDownload_;
    const std::string path = partialFinalPath_.value_or(*temporaryFileDownloadPath_);
    // Without resuming it is a temporary file like any other: a signal
    // removes it.
    if (!allowResumeForFileDownloads_) TemporaryFiles::track(path);
    fileDownloadOutputStream_ = std::make_unique<FileOutputStream>(path, append);
    if (!fileDownloadOutputStream_->open()) {
      problem = "Unable to write to file at '" + path + "': " + fileDownloadOutputStream_->lastError();
      fileDownloadOutputStream_.reset();
    }
  } else if (isResponseCompressed()) {
    // The gzip bytes wait in a temporary file to be decoded at the end.
    rawDownloadPath_ = temporaryFilePath();
    TemporaryFiles::track(*rawDownloadPath_);
    fileDownloadOutputStream_ = std::make_unique<FileOutputStream>(*rawDownloadPath_, false);
    if (!fileDownloadOutputStream_->open()) {
      problem = "Unable to write to file at '" + *rawDownloadPath_ + "': " +
                fileDownloadOutputStream_->lastError();
      fileDownloadOutputStream_.reset();
    }
  } else {
    // Straight to the destination: a temporary beside it, renamed over it
    // at the end (or the device or pipe itself).
    downloadFile_ = std::make_unique<AtomicFile>(*downloadDestinationPath_);
    if (auto s = downloadFile_->open(); !s) {
      problem = s.error().description;
      downloadFile_.reset();
    }
  }
  if (problem.empty()) return true;
  auto e = makeError(kFileManagementError, problem);
  transition(TransferState::kComplete);
  cancelLoad();
  failWithError(e);
  return false;
}

std::shared_ptr<const Error> HTTPRequest::finishDownloadFile() {
  if (fileDownloadOutputStream_) fileDownloadOutputStream_->close();
  fileDownloadOutputStream_.reset();
  const std::string dest = *downloadDestinationPath_;
  if (downloadFile_) {
    // The body went straight to the destination.
    auto s = downloadFile_->commit();
    downloadFile_.reset();
    if (!s) return makeError(kFileManagementError, s.error().description);
    return nullptr;
  }
  // The bytes are in a file: the partial file, or the gzip bytes.
  std::string source;
  if (temporaryFileDownloadPath_) {
    source = partialFinalPath_.value_or(*temporaryFileDownloadPath_);
    if (!fs::exists(source)) {
      // Nothing more to fetch and nothing kept: an empty file.
      FileOutputStream empty(source, true);
      empty.open();
    }
  } else if (rawDownloadPath_) {
    source = *rawDownloadPath_;
  }
  auto dropSource = [&] {
    std::error_code ec;
    fs::remove(source, ec);
    TemporaryFiles::untrack(source);
    rawDownloadPath_.reset();
    temporaryFileDownloadPath_.reset();
  };
  const bool compressed = isResponseCompressed() && !downloadAlreadyComplete_;
  if (compressed) {
    // Decoded into the destination through a temporary beside it, so a
    // corrupt body never leaves a half-written destination behind.
    AtomicFile out(dest);
    auto s = out.open();
    if (!s) return makeError(kFileManagementError, s.error().description);
    std::FILE* in = std::fopen(source.c_str(), "rb");
    int fd = ::dup(out.fd());
    std::FILE* into = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!into && fd >= 0) ::close(fd);
    int status = in && into ? GzipCodec::uncompressZippedDataFromSource(in, into) : -1;
    if (in) std::fclose(in);
    if (into && std::fclose(into) != 0 && status == 0) status = -1;
    if (status != 0) {
      out.discard();
      auto e = makeError(kFileManagementError, "Decompression of " + source + " failed with code " +
                                                   std::to_string(static_cast<short>(status)));
      // A partial file the download may resume from stays.
      if (!temporaryFileDownloadPath_ || !allowResumeForFileDownloads_) dropSource();
      return e;
    }
    if (auto c = out.commit(); !c) return makeError(kFileManagementError, c.error().description);
    dropSource();
    return nullptr;
  }
  // A whole partial file becomes the destination: renamed when it can be,
  // else copied (into a device or pipe, or across file systems).
  if (!downloadTarget_->stream) {
    std::error_code ec;
    struct stat st {};
    if (::stat(downloadTarget_->path.c_str(), &st) == 0) ::chmod(source.c_str(), st.st_mode & 07777);
    if (::rename(source.c_str(), downloadTarget_->path.c_str()) == 0) {
      TemporaryFiles::untrack(source);
      temporaryFileDownloadPath_.reset();
      return nullptr;
    }
    if (errno != EXDEV)
      return makeError(kFileManagementError, "Failed to move file from '" + source + "' to '" +
                                                 dest + "': " + std::strerror(errno));
  }
  AtomicFile out(dest);
  auto s = out.open();
  if (!s) return makeError(kFileManagementError, s.error().description);
  if (int err = copyInto(source, out.fd()))
    return makeError(kFileManagementError, "Failed to move file from '" + source + "' to '" + dest +
                                               "': " + std::strerror(err));
  if (auto c = out.commit(); !c) return makeError(kFileManagementError, c.error().description);
  dropSource();
  return nullptr;
}

std::shared_ptr<const Error> HTTPRequest::removeTemporaryDownloadFile() {
  std::shared_ptr<const Error> e;
  if (temporaryFileDownloadPath_) {
    std::error_code ec;
    fs::remove(*temporaryFileDownloadPath_, ec);
    TemporaryFiles::untrack(partialFinalPath_.value_or(*temporaryFileDownloadPath_));
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
  if (fileDownloadOutputStream_) fileDownloadOutputStream_->close();
  fileDownloadOutputStream_.reset();
  // The destination stays as it was.
  downloadFile_.reset();
  std::error_code ec;
  if (rawDownloadPath_) {
    fs::remove(*rawDownloadPath_, ec);
    TemporaryFiles::untrack(*rawDownloadPath_);
    rawDownloadPath_.reset();
  }
  if (temporaryFileDownloadPath_ && !allowResumeForFileDownloads_) {
    const std::string path = partialFinalPath_.value_or(*temporaryFileDownloadPath_);
    fs::remove(path, ec);
    TemporaryFiles::untrack(path);
  }
}

// --- the body for a consumer -------------------------------------------------------

bool HTTPRequest::consumeBody(const std::uint8_t* bytes, std::size_t count) {
  std::optional<std::string> problem;
  if (isResponseCompressed()) {
    if (!bodyInflater_) bodyInflater_ = std::make_shared<GzipInflater>();
    int status = bodyInflater_->feed(bytes, count, [&](const std::uint8_t* out, std::size_t n) {
      problem = responseBodyConsumer_(out, n);
      return !problem;
    });
    if (!problem && status != 0)
      problem = "The gzip-encoded body could not be decoded (zlib code " +
                std::to_string(status) + ")";
  } else {
    problem = responseBodyConsumer_(bytes, count);
  }
  if (!problem) return true;
  auto e = makeError(kFileManagementError, *problem);
  transition(TransferState::kComplete);
  cancelLoad();
  failWithError(e);
  return false;
}

std::shared_ptr<const Error> HTTPRequest::finishConsumedBody() {
  if (isResponseCompressed() && totalBytesRead_ > 0 &&
      (!bodyInflater_ || !bodyInflater_->finished()))
    return makeError(kFileManagementError, "The gzip-encoded body ends before its end");
  return nullptr;
}

std::optional<std::string> HTTPRequest::responseDataProblem() const {
  if (!rawResponseData_ || !isResponseCompressed() || responseData()) return std::nullopt;
  if (GzipCodec::decodesBeyond(*rawResponseData_, maxUncompressedDataLength()))
    return "The gzip-encoded body decodes to more than the in-memory limit of " +
           std::to_string(maxUncompressedDataLength()) +
           " bytes; downloaded to a file it is decoded without one";
  return "The gzip-encoded body could not be decoded";
}

}  // namespace glowsnap
