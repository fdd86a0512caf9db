#include "app/MailComposeViewController.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QToolButton>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/qt/AlertView.h"
#include "ui_MailComposeViewController.h"

namespace glowsnap {

namespace fs = std::filesystem;

// The worker's way back: the composer while it lives, nobody after. Only
// the main thread reads or clears it.
struct MailComposeViewController::Relay {
  MailComposeViewController* composer;
  std::atomic<bool> cancelled{false};
};

namespace {

std::string sizeText(std::size_t bytes) {
  char text[32];
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof text, "%zu KB", (bytes + 512) / 1024);
  } else {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  }
  return text;
}

// Where attachments handed to the mail program wait for it: it reads them
// when the user sends, after xdg-email has returned, so they stay a day.
fs::path handOverDirectory() {
  fs::path dir = paths::temporaryDirectory() / "glowsnap-mail";
  std::error_code ec;
  if (fs::exists(dir, ec)) {
    const auto dayAgo = fs::file_time_type::clock::now() - std::chrono::hours(24);
    for (const auto& e : fs::directory_iterator(dir, ec))
      if (fs::last_write_time(e.path(), ec) < dayAgo) fs::remove_all(e.path(), ec);
  }
  return dir;
}

}  // namespace

MailComposeViewController::MailComposeViewController() = default;

MailComposeViewController::~MailComposeViewController() {
  stopWorker();
  if (process_) {
    process_->disconnect();
    // xdg-email returns as soon as the mail program has the message.
    process_->waitForFinished(5000);
    delete process_.data();
  }
}

void MailComposeViewController::stopWorker() {
  if (relay_) {
    relay_->cancelled.store(true);
    relay_->composer = nullptr;
  }
  if (worker_.joinable()) worker_.join();
  relay_.reset();
}

QWidget* MailComposeViewController::view() {
  if (!view_) loadView();
  return view_.get();
}

void MailComposeViewController::loadView() {
  view_ = std::make_unique<QWidget>();
  Ui::MailComposeViewController ui;
  ui.setupUi(view_.get());
  to_ = ui.m_to;
  subject_ = ui.m_subject;
  body_ = ui.m_body;
  attachmentLabel_ = ui.m_attachment;
  status_ = ui.m_status;
  sendButton_ = ui.btn_send;
  cancelButton_ = ui.btn_cancel;
  QObject::connect(sendButton_, &QToolButton::clicked, view_.get(), [this] { send(); });
  QObject::connect(cancelButton_, &QToolButton::clicked, view_.get(), [this] { cancel(); });
  std::string to;
  for (const std::string& a : toRecipients_) to += (to.empty() ? "" : ", ") + a;
  to_->setText(QString::fromStdString(to));
  subject_->setText(QString::fromStdString(subjectText_));
  body_->setPlainText(QString::fromStdString(bodyText_));
  refresh();
  to_->setFocus(Qt::OtherFocusReason);
}

void MailComposeViewController::refresh() {
  if (!view_) return;
  std::string attached;
  for (const MailAttachment& a : attachments_)
    attached += (attached.empty() ? "Attached: " : ", ") + attachmentText(a);
  attachmentLabel_->setText(QString::fromStdString(attached));
  if (sending_) return;
  sendButton_->setText(smtp_ ? "Send" : "Open in Mail Program");
  status_->setText(smtp_ ? QString()
                         : QString("No mail server is set (glowsnap config set smtp_url …): the "
                                   "message goes to your mail program."));
}

std::string MailComposeViewController::attachmentText(const MailAttachment& attachment) {
  return attachment.fileName + " (" + sizeText(attachment.data.size()) + ")";
}

void MailComposeViewController::setToRecipients(const std::vector<std::string>& to) {
  toRecipients_ = to;
  if (view_) loadView();
}

void MailComposeViewController::setSubject(const std::string& subject) {
  subjectText_ = subject;
  if (subject_) subject_->setText(QString::fromStdString(subject));
}

void MailComposeViewController::setMessageBody(const std::string& body) {
  bodyText_ = body;
  if (body_) body_->setPlainText(QString::fromStdString(body));
}

void MailComposeViewController::addAttachmentData(Bytes data, const std::string& mimeType,
                                                  const std::string& fileName) {
  attachments_.push_back(MailAttachment{std::move(data), mimeType, fileName});
  refresh();
}

void MailComposeViewController::setSMTPConfiguration(std::optional<SMTPConfiguration> c) {
  smtp_ = std::move(c);
  refresh();
}

MailMessage MailComposeViewController::message() const {
  MailMessage m;
  if (to_)
    m.to =
        MailMessage::parseAddresses(to_->text().toStdString()).value_or(std::vector<std::string>{});
  m.subject = subject_ ? subject_->text().toStdString() : subjectText_;
  m.body = body_ ? body_->toPlainText().toStdString() : bodyText_;
  m.attachments = attachments_;
  if (smtp_) m.from = smtp_->from;
  return m;
}

void MailComposeViewController::setSending(bool sending) {
  sending_ = sending;
  for (QWidget* w : {static_cast<QWidget*>(to_), static_cast<QWidget*>(subject_),
                     static_cast<QWidget*>(body_), static_cast<QWidget*>(sendButton_)})
    w->setEnabled(!sending);
  if (!sending) refresh();
}

void MailComposeViewController::send() {
  view();
  if (sending_) return;
  const std::string toText = to_->text().toStdString();
  auto to = MailMessage::parseAddresses(toText);
  if (!to) return failed("\"" + toText + "\" is not a list of mail addresses.");
  if (smtp_ && to->empty()) return failed("Whom should it go to? Fill in To.");
  MailMessage m = message();
  if (smtp_) {
    sendOverSMTP(std::move(m));
  } else {
    handToMailProgram(m);
  }
}

void MailComposeViewController::sendOverSMTP(MailMessage m) {
  stopWorker();
  setSending(true);
  status_->setText("Sending...");
  relay_ = std::make_shared<Relay>();
  relay_->composer = this;
  worker_ = std::thread([relay = relay_, configuration = *smtp_, m = std::move(m)] {
    auto lastShown = std::make_shared<int>(-1);
    Status status = SMTPMailer::send(
        configuration, m, &relay->cancelled,
        [relay, lastShown](std::uint64_t sent, std::uint64_t total) {
          int percent = total ? static_cast<int>(sent * 100 / total) : 100;
          if (percent == *lastShown) return;
          *lastShown = percent;
          performOnMainThread(
              [relay, percent] {
                if (relay->composer && relay->composer->status_)
                  relay->composer->status_->setText(QString("Sending... %1%").arg(percent));
              },
              false);
        });
    performOnMainThread(
        [relay, status] {
          if (relay->composer) relay->composer->sendFinished(status);
        },
        false);
  });
}

void MailComposeViewController::sendFinished(const Status& status) {
  if (worker_.joinable()) worker_.join();
  relay_.reset();
  setSending(false);
  if (status) return finish(MailComposeResultSent, nullptr);
  if (status.error().code == kMailCancelled) return finish(MailComposeResultCancelled, nullptr);
  failed("The mail was not sent: " + status.error().description + ".");
}

void MailComposeViewController::handToMailProgram(const MailMessage& m) {
  const fs::path dir = handOverDirectory();
  std::random_device rd;
  const fs::path folder = dir / std::to_string(rd());
  if (!paths::ensureDirectory(folder))
    return failed("The attachment could not be written to " + folder.string() + ".");
  QStringList args;
  if (!m.subject.empty()) args << "--subject" << QString::fromStdString(m.subject);
  if (!m.body.empty()) args << "--body" << QString::fromStdString(m.body);
  for (const MailAttachment& a : m.attachments) {
    const fs::path file = folder / fs::path(a.fileName).filename();
    if (auto written = AtomicFile::writeAll(file, std::span<const std::uint8_t>(a.data)); !written)
      return failed("The attachment could not be written: " + written.error().description + ".");
    args << "--attach" << QString::fromStdString(file.string());
  }
  for (const std::string& to : m.to) args << QString::fromStdString(to);
  auto* process = new QProcess(view_.get());
  process_ = process;
  setSending(true);
  status_->setText("Opening your mail program...");
  QObject::connect(process, &QProcess::errorOccurred, view_.get(),
                   [this, process](QProcess::ProcessError e) {
                     if (e != QProcess::FailedToStart) return;
                     process->deleteLater();
                     setSending(false);
                     failed("No mail program could be opened: " + mailProgram_ +
                            " is not installed (Debian: xdg-utils), and no mail server is set.");
                   });
  QObject::connect(
      process, &QProcess::finished, view_.get(),
      [this, process](int code, QProcess::ExitStatus how) {
        process->deleteLater();
        setSending(false);
        if (how == QProcess::NormalExit && code == 0)
          return finish(MailComposeResultSaved, nullptr);
        const std::string said = process->readAllStandardError().trimmed().toStdString();
        failed("Your mail program could not take the message (" + mailProgram_ + " ended with " +
               std::to_string(code) + (said.empty() ? "" : ": " + said) + ").");
      });
  process->start(QString::fromStdString(mailProgram_), args);
}

void MailComposeViewController::cancel() {
  if (sending_ && relay_) {
    // The worker stops at its next chunk and reports the cancel.
    relay_->cancelled.store(true);
    return;
  }
  finish(MailComposeResultCancelled, nullptr);
}

void MailComposeViewController::failed(const std::string& why) {
  if (status_) status_->setText(QString::fromStdString(why));
  AlertView::create("Mail Not Sent", why, nullptr, "Ok")->show();
}

void MailComposeViewController::finish(MailComposeResult result, const Error* error) {
  if (delegate_) delegate_->didFinishWithResult(this, result, error);
}

}  // namespace glowsnap
