// MailComposeViewController: the application's own mail composer, laid over
// the sharing screen: To, Subject, the message and the attachments (each
// shown with its name and size). With a mail server configured, Send
// delivers over SMTP on a worker thread while the composer says how far it
// got; without one, the composer hands the message and its attachment to
// the desktop's mail program (xdg-email --attach). A failure is reported by
// an alert and the composer stays, with everything typed, so nothing is
// lost; the delegate hears only the end (sent, handed on, or cancelled).
#pragma once

#include <QPointer>
#include <QWidget>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "mail/MailMessage.h"
#include "mail/SMTPMailer.h"
#include "platform/foundation/Result.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProcess;
class QToolButton;

namespace glowsnap {

class MailComposeViewController;

enum MailComposeResult {
  MailComposeResultCancelled = 0,
  // Handed to the desktop's mail program, which sends it.
  MailComposeResultSaved = 1,
  MailComposeResultSent = 2,
  MailComposeResultFailed = 3,
};

class MailComposeViewControllerDelegate {
 public:
  virtual ~MailComposeViewControllerDelegate() = default;
  // The composer is done; the delegate takes it away (not from inside this
  // call: the composer is still running it).
  virtual void didFinishWithResult(MailComposeViewController* controller, MailComposeResult result,
                                   const Error* error) = 0;
};

class MailComposeViewController {
 public:
  MailComposeViewController();
  // Stops a send in progress (nothing is reported any more) and goes.
  ~MailComposeViewController();
  MailComposeViewController(const MailComposeViewController&) = delete;
  MailComposeViewController& operator=(const MailComposeViewController&) = delete;

  QWidget* view();

  void setMailComposeDelegate(MailComposeViewControllerDelegate* delegate) { delegate_ = delegate; }
  MailComposeViewControllerDelegate* mailComposeDelegate() const { return delegate_; }
  void setToRecipients(const std::vector<std::string>& to);
  void setSubject(const std::string& subject);
  void setMessageBody(const std::string& body);
  void addAttachmentData(Bytes data, const std::string& mimeType, const std::string& fileName);
  const std::vector<MailAttachment>& attachments() const { return attachments_; }
  // nothing: no mail server, Send hands over to the desktop's mail program.
  void setSMTPConfiguration(std::optional<SMTPConfiguration> configuration);
  const std::optional<SMTPConfiguration>& smtpConfiguration() const { return smtp_; }
  // The desktop's mail program ("xdg-email", looked up on PATH).
  void setMailProgram(std::string program) { mailProgram_ = std::move(program); }

  // The buttons.
  void send();
  void cancel();
  bool isSending() const { return sending_; }
  // The message as the fields say now.
  MailMessage message() const;
  // "image.jpg (123 KB)".
  static std::string attachmentText(const MailAttachment& attachment);

  QLineEdit* toField() const { return to_; }
  QLineEdit* subjectField() const { return subject_; }
  QPlainTextEdit* bodyField() const { return body_; }
  QToolButton* sendButton() const { return sendButton_; }
  QToolButton* cancelButton() const { return cancelButton_; }
  QLabel* statusLabel() const { return status_; }
  QLabel* attachmentLabel() const { return attachmentLabel_; }

 private:
  struct Relay;
  void loadView();
  void refresh();
  void setSending(bool sending);
  void sendOverSMTP(MailMessage message);
  void handToMailProgram(const MailMessage& message);
  void sendFinished(const Status& status);
  void finish(MailComposeResult result, const Error* error);
  void failed(const std::string& why);
  void stopWorker();

  MailComposeViewControllerDelegate* delegate_ = nullptr;
  std::unique_ptr<QWidget> view_;
  QLineEdit* to_ = nullptr;
  QLineEdit* subject_ = nullptr;
  QPlainTextEdit* body_ = nullptr;
  QLabel* attachmentLabel_ = nullptr;
  QLabel* status_ = nullptr;
  QToolButton* sendButton_ = nullptr;
  QToolButton* cancelButton_ = nullptr;
  std::vector<std::string> toRecipients_;
  std::string subjectText_;
  std::string bodyText_;
  std::vector<MailAttachment> attachments_;
  std::optional<SMTPConfiguration> smtp_;
  std::string mailProgram_ = "xdg-email";
  bool sending_ = false;
  std::shared_ptr<Relay> relay_;
  std::thread worker_;
  QPointer<QProcess> process_;
};

}  // namespace glowsnap
