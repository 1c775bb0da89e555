#include "ui/CVeltranoDlg.h"

#include <pango/pangocairo.h>

#include <vector>

#include "config/LauncherConfig.h"
#include "config/Log.h"
#include "platform/CommandLine.h"

namespace veltrano {

CVeltranoDlg::CVeltranoDlg(DialogOwner* owner, WindowServices services)
    : CBaseDialog(owner),
      services_(std::move(services)),
      model_(std::make_shared<ProgressModel>(skinLayoutFrom(*LauncherConfig::instance()),
                                             LauncherConfig::instance()->downlaod_text())),
      login_(this, owner, services_) {
    bgImage_ = loadImage(skinImagePath("/res/bg.png"));
    processImage_ = loadImage(skinImagePath("/res/process.png"));
    processBgImage_ = loadImage(skinImagePath("/res/process_bg.png"));
    closeImage_ = loadImage(skinImagePath("/res/close.png"));
}

CVeltranoDlg::~CVeltranoDlg() {
    if (timer_) g_source_remove(timer_);
    if (messageBox_) gtk_widget_destroy(messageBox_);
    for (cairo_surface_t* s : {bgImage_, processImage_, processBgImage_, closeImage_})
        if (s) cairo_surface_destroy(s);
}

GtkWidget* CVeltranoDlg::createWidget() {
    GtkWidget* area = gtk_drawing_area_new();
    gtk_widget_add_events(area, GDK_BUTTON_PRESS_MASK);
    g_signal_connect(area, "draw", G_CALLBACK(onDraw), this);
    g_signal_connect(area, "button-press-event", G_CALLBACK(onButtonPress), this);
    return area;
}

bool CVeltranoDlg::OnInitDialog() {
    const LauncherConfig& cfg = *LauncherConfig::instance();
    setRect(0, 0, cfg.win_width(), cfg.win_height());
    FindSystemFont();
    writeLog("CVeltranoDlg FindSystemFont end");
    login_.starter().setLauncherCommandLine(applicationCommandLine());
    timer_ = g_timeout_add(kTimerPeriodMs, onTimer, this);
    startUpdate(services_, model_);
    writeLog("CVeltranoDlg Updater start");
    UpdateView();
    login_.listen();
    writeLog("CVeltranoDlg End UpdateView");
    return true;
}

void CVeltranoDlg::OnUpdaterEvent(unsigned state, int code, double total, double done) {
    model_->onUpdaterEvent(state, code, total, done);
}

void CVeltranoDlg::gameStarted() {
    if (owner_) owner_->quit();
}

void CVeltranoDlg::showStartError(const std::string& message) {
    GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, GTK_BUTTONS_OK,
                                            "%s", message.c_str());
    gtk_window_set_title(GTK_WINDOW(box), "系统提示");
    gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

void CVeltranoDlg::wait(int milliseconds) {
    if (milliseconds <= 0) return;
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_timeout_add(
        static_cast<guint>(milliseconds),
        +[](gpointer l) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(l));
            return G_SOURCE_REMOVE;
        },
        loop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
}

void CVeltranoDlg::FindSystemFont() {
    std::vector<std::string> families;
    PangoFontMap* map = pango_cairo_font_map_get_default();
    PangoFontFamily** list = nullptr;
    int n = 0;
    if (map) pango_font_map_list_families(map, &list, &n);
    for (int i = 0; i < n; ++i) families.emplace_back(pango_font_family_get_name(list[i]));
    g_free(list);
    fontName_ = chooseFont(families, LauncherConfig::instance()->font());
}

bool CVeltranoDlg::UpdateView() {
    ViewFrame f = currentFrame(*model_, services_);
    if (framed_ && f == frame_) return false;
    frame_ = std::move(f);
    framed_ = true;
    ++redraws_;
    if (widget_) gtk_widget_queue_draw(widget_);
    return true;
}

void CVeltranoDlg::pollUpdater() {
    ProgressModel::PollResult r = model_->poll(windowNow(services_));
    reportPoll(r, model_->speedText(), services_);
    if (r.downloadComplete && onDownloadComplete_) onDownloadComplete_();
    if (r.errorCode) showError(r.errorCode);
}

void CVeltranoDlg::tick() {
    if (services_.tickScheduler) services_.tickScheduler(kTimerPeriodMs / 1000.0f);
    UpdateView();
    pollUpdater();
}

gboolean CVeltranoDlg::onTimer(gpointer self) {
    static_cast<CVeltranoDlg*>(self)->tick();
    return G_SOURCE_CONTINUE;
}

void CVeltranoDlg::showError(int code) {
    std::string text = formatErrorText(LauncherConfig::instance()->error_text(), code);
    writeLog("CVeltranoDlg error box: %s", text.c_str());
    if (messageBox_) gtk_widget_destroy(messageBox_);
    // Not run in a nested loop: the timer keeps ticking the scheduler while the box is open.
    messageBox_ = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, GTK_BUTTONS_OK, "%s",
                                         text.c_str());
    gtk_window_set_title(GTK_WINDOW(messageBox_), "系统提示");
    gtk_window_set_position(GTK_WINDOW(messageBox_), GTK_WIN_POS_CENTER);
    g_signal_connect(messageBox_, "response", G_CALLBACK(+[](GtkDialog* dialog, gint, gpointer self) {
                         auto* dlg = static_cast<CVeltranoDlg*>(self);
                         dlg->messageBox_ = nullptr;
                         gtk_widget_destroy(GTK_WIDGET(dialog));
                         // The window's own close request, which it ignores.
                         dlg->OnClose();
                         if (dlg->onErrorAcknowledged_) dlg->onErrorAcknowledged_();
                     }),
                     this);
    gtk_widget_show(messageBox_);
}

bool CVeltranoDlg::OnCopyData(uint64_t dwData) {
    if (isQuitRequest(dwData, LauncherConfig::instance()->process_data_type()) && owner_) owner_->quit();
    return true;
}

void CVeltranoDlg::OnMove(int x, int y) {
    // The parts share one toplevel, so the stack already moved; keep the siblings at their offsets.
    if (owner_) owner_->moveChildren(this, x, y);
}

void CVeltranoDlg::OnLButtonDown(int x, int y, GdkEventButton* event) {
    if (closeButtonHit(skinLayoutFrom(*LauncherConfig::instance()), x, y)) {
        if (owner_) owner_->OnClose();
        return;
    }
    GtkWidget* top = widget_ ? gtk_widget_get_toplevel(widget_) : nullptr;
    if (event && top && gtk_widget_is_toplevel(top))
        gtk_window_begin_move_drag(GTK_WINDOW(top), static_cast<gint>(event->button),
                                   static_cast<gint>(event->x_root), static_cast<gint>(event->y_root),
                                   event->time);
}

gboolean CVeltranoDlg::onButtonPress(GtkWidget*, GdkEventButton* event, gpointer self) {
    if (event->type == GDK_BUTTON_PRESS && event->button == 1)
        static_cast<CVeltranoDlg*>(self)->OnLButtonDown(static_cast<int>(event->x),
                                                        static_cast<int>(event->y), event);
    return TRUE;
}

gboolean CVeltranoDlg::onDraw(GtkWidget*, cairo_t* cr, gpointer self) {
    static_cast<CVeltranoDlg*>(self)->draw(cr);
    return FALSE;
}

void CVeltranoDlg::draw(cairo_t* cr) {
    const LauncherConfig& cfg = *LauncherConfig::instance();
    int w = gtk_widget_get_allocated_width(widget_);
    int h = gtk_widget_get_allocated_height(widget_);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    drawImage(cr, bgImage_, 0, 0, w, h);
    drawImage(cr, closeImage_, cfg.close_btn_x(), cfg.close_btn_y(), cfg.close_btn_width(),
              cfg.close_btn_height());
    drawImage(cr, processBgImage_, cfg.process_x(), cfg.process_y(), cfg.process_bg_width(),
              cfg.process_bg_height());
    const FillRect& fill = frame_.fill;
    if (processImage_ && fill.width > 0 && fill.height > 0) {
        // Cropped from the left at the image's own scale.
        cairo_save(cr);
        cairo_set_source_surface(cr, processImage_, fill.x, fill.y);
        cairo_rectangle(cr, fill.x, fill.y, fill.width, fill.height);
        cairo_fill(cr);
        cairo_restore(cr);
    }
    if (frame_.hasText && !frame_.text.empty()) {
        PangoLayout* layout = pango_cairo_create_layout(cr);
        PangoFontDescription* font = pango_font_description_new();
        pango_font_description_set_family(font, fontName_.c_str());
        pango_font_description_set_absolute_size(font, cfg.font_size() * PANGO_SCALE);
        pango_layout_set_font_description(layout, font);
        pango_font_description_free(font);
        pango_layout_set_text(layout, frame_.text.c_str(), -1);
        pango_layout_set_width(layout, cfg.process_bg_width() * PANGO_SCALE);
        pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
        int tw = 0, th = 0;
        pango_layout_get_pixel_size(layout, &tw, &th);
        cairo_save(cr);
        cairo_rectangle(cr, cfg.download_text_x(), cfg.download_text_y(), cfg.process_bg_width(),
                        cfg.process_bg_height());
        cairo_clip(cr);
        cairo_set_source_rgba(cr, cfg.font_color_r() / 255.0, cfg.font_color_g() / 255.0,
                              cfg.font_color_b() / 255.0, 1.0);
        cairo_move_to(cr, cfg.download_text_x(),
                      cfg.download_text_y() + (cfg.process_bg_height() - th) / 2.0);
        pango_cairo_show_layout(cr, layout);
        cairo_restore(cr);
        g_object_unref(layout);
    }
}

}  // namespace veltrano
