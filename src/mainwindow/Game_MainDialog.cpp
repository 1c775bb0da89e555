#include "mainwindow/Game_MainDialog.h"

#include <unistd.h>

#include <glib-unix.h>

#include <algorithm>

#include "config/LauncherConfig.h"
#include "config/Log.h"
#include "platform/FileUtils.h"
#include "platform/WindowMessage.h"
#include "ui/CVeltranoDlg.h"
#include "ui/CVeltranoMaskDlg.h"
#include "web/CWebDialog.h"

namespace veltrano {

Game_MainDialog::Game_MainDialog(WindowServices services) : services_(std::move(services)) {}

Game_MainDialog::~Game_MainDialog() {
    for (guint id : timeouts_) g_source_remove(id);
    if (receiverWatch_) g_source_remove(receiverWatch_);
    if (window_) {
        g_signal_handlers_disconnect_by_data(window_, this);
        gtk_widget_destroy(window_);
    }
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) delete *it;
}

bool Game_MainDialog::OnInitDialog() {
    const LauncherConfig& cfg = *LauncherConfig::instance();
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    if (!window_) return false;
    gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
    gtk_widget_set_app_paintable(window_, TRUE);
    GdkScreen* screen = gtk_widget_get_screen(window_);
    if (GdkVisual* rgba = screen ? gdk_screen_get_rgba_visual(screen) : nullptr)
        gtk_widget_set_visual(window_, rgba);
    composited_ = CBaseDialog::screenComposited(window_);
    gtk_window_set_title(GTK_WINDOW(window_), cfg.app_name().c_str());
    FileUtils* fu = FileUtils::instance();
    if (fu && !cfg.launcher_icon().empty()) {
        std::string icon = fu->launcherDirectory() + cfg.launcher_icon();
        if (fu->fileExists(icon)) gtk_window_set_icon_from_file(GTK_WINDOW(window_), icon.c_str(), nullptr);
    }
    gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
    g_signal_connect(window_, "draw", G_CALLBACK(onDrawBackground), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(onDelete), this);
    g_signal_connect(window_, "configure-event", G_CALLBACK(onConfigure), this);

    overlay_ = gtk_overlay_new();
    // Sized before the parts show, so the toplevel is centred at its final size.
    gtk_widget_set_size_request(overlay_, cfg.win_width() > 0 ? cfg.win_width() : 0,
                                cfg.win_height() > 0 ? cfg.win_height() : 0);
    gtk_container_add(GTK_CONTAINER(window_), overlay_);
    // The launcher's own window id is its process id; quit requests arrive there.
    int64_t ownId = static_cast<int64_t>(getpid());
    if (services_.setSenderWindow) services_.setSenderWindow(ownId);
    receiver_ = std::make_unique<WindowMessageReceiver>(ownId);
    if (receiver_->isOpen())
        receiverWatch_ = g_unix_fd_add(receiver_->fd(), G_IO_IN, onWindowMessage, this);
    else
        writeLog("window messages for %lld cannot be received", static_cast<long long>(ownId));

    mainDlg_ = new CVeltranoDlg(this, services_);
    if (!mainDlg_->create()) {
        delete mainDlg_;
        mainDlg_ = nullptr;
        return false;
    }
    gtk_container_add(GTK_CONTAINER(overlay_), mainDlg_->widget());
    addChild(mainDlg_, {0, 0});
    closing_.watch(&mainDlg_->login());

    webDlg_ = new CWebDialog(cfg.web_url(), this, services_);
    if (webDlg_->create()) {
        gtk_overlay_add_overlay(GTK_OVERLAY(overlay_), webDlg_->widget());
        addChild(webDlg_, {cfg.web_x(), cfg.web_y()});
    } else {
        delete webDlg_;
        webDlg_ = nullptr;
    }
    mainDlg_->setDownloadCompleteListener([this] {
        if (webDlg_) webDlg_->downloadCompleted();
    });

    maskDlg_ = new CVeltranoMaskDlg(this);
    if (maskDlg_->create()) {
        gtk_overlay_add_overlay(GTK_OVERLAY(overlay_), maskDlg_->widget());
        gtk_overlay_set_overlay_pass_through(GTK_OVERLAY(overlay_), maskDlg_->widget(), TRUE);
        maskDlg_->show();
        addChild(maskDlg_, {0, 0});
    } else {
        delete maskDlg_;
        maskDlg_ = nullptr;
    }

    if (webDlg_) webDlg_->moveTo(cfg.web_x(), cfg.web_y());
    moveChildren(mainDlg_, 0, 0);

    // The parts appear from the top down, a short step apart, while the loop keeps painting.
    gtk_widget_show(overlay_);
    gtk_widget_show(window_);
    for (CBaseDialog* child : children_)
        if (child != maskDlg_) gtk_widget_hide(child->widget());
    showChildrenFrom(children_.size());
    return true;
}

void Game_MainDialog::addChild(CBaseDialog* child, DialogPoint offset) {
    children_.push_back(child);
    offsets_.push_back(offset);
}

void Game_MainDialog::showChildrenFrom(size_t index) {
    if (index == 0) return;
    CBaseDialog* child = children_[index - 1];
    if (!child->closed()) child->show();
    struct Step {
        Game_MainDialog* self;
        size_t next;
    };
    auto* step = new Step{this, index - 1};
    guint id = g_timeout_add_full(
        G_PRIORITY_DEFAULT, kShowStepMs,
        +[](gpointer data) -> gboolean {
            auto* s = static_cast<Step*>(data);
            auto& ids = s->self->timeouts_;
            ids.erase(std::remove(ids.begin(), ids.end(), g_source_get_id(g_main_current_source())),
                      ids.end());
            s->self->showChildrenFrom(s->next);
            return G_SOURCE_REMOVE;
        },
        step, +[](gpointer data) { delete static_cast<Step*>(data); });
    timeouts_.push_back(id);
}

int Game_MainDialog::moveChildren(CBaseDialog* skip, int /*x*/, int /*y*/) {
    // The parts live inside the toplevel, so the owner's screen position does not enter: each part
    // goes back to its offset.
    for (size_t i = 0; i < children_.size(); ++i) {
        if (children_[i] == skip) continue;
        children_[i]->moveTo(offsets_[i].x, offsets_[i].y);
    }
    return static_cast<int>(children_.size());
}

void Game_MainDialog::run() {
    if (closing_.loopEnded()) return;
    running_ = true;
    gtk_main();
    running_ = false;
}

void Game_MainDialog::startCloseWait(unsigned milliseconds) {
    guint id = g_timeout_add(
        milliseconds,
        +[](gpointer self) -> gboolean {
            auto* dlg = static_cast<Game_MainDialog*>(self);
            auto& ids = dlg->timeouts_;
            ids.erase(std::remove(ids.begin(), ids.end(), g_source_get_id(g_main_current_source())),
                      ids.end());
            dlg->closing_.waitEnded();
            return G_SOURCE_REMOVE;
        },
        this);
    timeouts_.push_back(id);
}

void Game_MainDialog::closeChildren() {
    for (CBaseDialog* child : children_) child->handleCloseMessage();
}

void Game_MainDialog::endLoop() {
    if (running_) gtk_main_quit();
}

gboolean Game_MainDialog::onDrawBackground(GtkWidget*, cairo_t* cr, gpointer self) {
    auto* dlg = static_cast<Game_MainDialog*>(self);
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    if (dlg->composited_)
        cairo_set_source_rgba(cr, 0, 0, 0, 0);
    else
        cairo_set_source_rgb(cr, 0x1e / 255.0, 0x1e / 255.0, 0x1e / 255.0);
    cairo_paint(cr);
    cairo_restore(cr);
    return FALSE;
}

gboolean Game_MainDialog::onWindowMessage(gint, GIOCondition, gpointer self) {
    auto* dlg = static_cast<Game_MainDialog*>(self);
    while (auto message = dlg->receiver_->poll()) {
        if (message->message == kWmCopyData && dlg->mainDlg_) dlg->mainDlg_->OnCopyData(message->dwData);
    }
    return G_SOURCE_CONTINUE;
}

gboolean Game_MainDialog::onDelete(GtkWidget*, GdkEvent*, gpointer self) {
    static_cast<Game_MainDialog*>(self)->OnClose();
    return TRUE;
}

gboolean Game_MainDialog::onConfigure(GtkWidget*, GdkEventConfigure* event, gpointer self) {
    auto* dlg = static_cast<Game_MainDialog*>(self);
    if (!dlg->placed_ || event->x != dlg->lastX_ || event->y != dlg->lastY_) {
        dlg->placed_ = true;
        dlg->lastX_ = event->x;
        dlg->lastY_ = event->y;
        if (dlg->mainDlg_) dlg->mainDlg_->OnMove(event->x, event->y);
    }
    return FALSE;
}

}  // namespace veltrano
