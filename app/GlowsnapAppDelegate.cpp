#include "app/GlowsnapAppDelegate.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/GlowsnapViewController.h"
#include "mingle/ui/MGDialog.h"
#include "platform/qt/AlertView.h"
#include "platform/qt/Application.h"
#include "platform/qt/Panel.h"
#include "platform/qt/ScreenView.h"
#include "platform/qt/View.h"
#include "ui_MainWindow.h"

namespace glowsnap {
namespace {
// Room left on the desktop for the window's frame and title bar.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 64;
}  // namespace

GlowsnapAppDelegate::GlowsnapAppDelegate(Defaults& settings, QObject* parent)
    : QObject(parent), m_window(std::make_unique<QWidget>()) {
  m_screen = new QWidget;
  Ui::MainWindow ui;
  ui.setupUi(m_screen);
  m_window->setWindowTitle(m_screen->windowTitle());
  m_window->setObjectName("GlowsnapWindow");
  m_window->setStyleSheet("QWidget#GlowsnapWindow { background: black; }");
  m_screenView = new ScreenView(m_screen, m_window.get());
  auto* layout = new QVBoxLayout(m_window.get());
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_screenView);
  m_window->setMinimumSize(m_screen->width() / 2, m_screen->height() / 2);
  m_window->setAcceptDrops(true);
  m_window->installEventFilter(this);
  m_viewController = std::make_unique<GlowsnapViewController>(settings);
}

GlowsnapAppDelegate::~GlowsnapAppDelegate() {
  if (m_window) m_window->removeEventFilter(this);
  // The controller's view is a child of the screen: take it out before the
  // controller, which owns it, goes.
  if (m_viewController && m_viewController->isViewLoaded())
    View::removeFromSuperview(m_viewController->view());
  m_viewController.reset();
  if (Panel::defaultHost() == m_screen) Panel::setDefaultHost(nullptr);
  MGDialog::setDefaultHost(nullptr);
}

QSize GlowsnapAppDelegate::firstWindowSize(QSize screen, double preferredScale, QSize available) {
  double scale = preferredScale > 0 ? preferredScale : kPreferredScale;
  if (available.width() > 0 && available.height() > 0) {
    const double fits = std::min(double(available.width() - kFrameWidth) / screen.width(),
                                 double(available.height() - kFrameHeight) / screen.height());
    scale = std::min(scale, std::max(fits, 0.5));
  }
  return QSize(static_cast<int>(std::lround(screen.width() * scale)),
               static_cast<int>(std::lround(screen.height() * scale)));
}

void GlowsnapAppDelegate::applicationDidFinishLaunching() {
  Application::setStatusBarHidden(true, true);
  // Alerts and sheets are laid over the portrait screen.
  Panel::setDefaultHost(m_screen);
  // The Mingle dialogs lie over the screen, as alerts do.
  MGDialog::setDefaultHost(m_screen);
  QWidget* v = m_viewController->view();
  View::addSubview(m_screen, v);
  v->move(0, 0);
  // Alerts shown while the view loaded (the first-launch notice, the review
  // request) stay above it.
  for (Panel* p : m_screen->findChildren<Panel*>(Qt::FindDirectChildrenOnly)) p->raise();
  const QScreen* desktop = QGuiApplication::primaryScreen();
  m_window->resize(firstWindowSize(m_screen->size(), m_preferredScale,
                                   desktop ? desktop->availableGeometry().size() : QSize()));
  m_viewController->setWindowWide(m_window->width() > m_window->height());
  m_window->show();
  m_window->activateWindow();
  m_window->raise();
  m_screenView->setFocus(Qt::ActiveWindowFocusReason);
  // The keyboard starts on the screen itself (Tab goes on to its buttons).
  v->setFocus(Qt::ActiveWindowFocusReason);
}

bool GlowsnapAppDelegate::openFile(const std::filesystem::path& path) {
  return m_viewController->openPhotoFile(path);
}

void GlowsnapAppDelegate::dropped(const QList<QUrl>& urls) {
  const auto refuse = [](const char* why) {
    AlertView::create("The photo was not opened", why, nullptr, "Ok")->show();
  };
  if (urls.size() != 1) {
    refuse("Please drop one photo at a time.");
  } else if (!urls.front().isLocalFile()) {
    refuse(
        "Only photo files on this computer can be opened. Save the photo first, then drop "
        "the file.");
  } else {
    openFile(urls.front().toLocalFile().toStdString());
  }
}

bool GlowsnapAppDelegate::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_window.get()) {
    switch (event->type()) {
      case QEvent::DragEnter: {
        // Whatever arrives is answered at the drop, with the reason if refused.
        auto* e = static_cast<QDragEnterEvent*>(event);
        if (e->mimeData()->hasUrls()) {
          e->acceptProposedAction();
          return true;
        }
        break;
      }
      case QEvent::Drop: {
        auto* e = static_cast<QDropEvent*>(event);
        e->acceptProposedAction();
        dropped(e->mimeData()->urls());
        return true;
      }
      case QEvent::Resize:
        m_viewController->setWindowWide(m_window->width() > m_window->height());
        break;
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
        // Keys nothing on the screen took (the focus was outside it).
        return m_viewController->handleKeyEvent(static_cast<QKeyEvent*>(event));
      case QEvent::WindowDeactivate:
        // A key held while the window loses the keyboard is never let go here.
        m_viewController->setShowsOriginal(false);
        break;
      default:
        break;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace glowsnap
