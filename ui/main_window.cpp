// MainWindow: the GTK side of the window. It turns GTK events into Panel calls (ui/panel.h), paints
// through CairoPainter (ui/window_paint.h), and implements the Panel's platform effects.
//
// Window (main) thread only. The engine thread calls postEngineNotice, which only queues an idle
// callback; everything else runs on the GTK main loop. The window unhooks the callback in "destroy",
// before start-up stops the engine.
#include "ui/main_window.h"

#include <gdk/gdk.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "base/log.h"
#include "base/wear_catalogue.h"
#include "platform/paths.h"
#include "platform/single_instance.h"
#include "platform/termination.h"
#include "render/pictures.h"
#include "settings/publish.h"
#include "settings/scenes.h"
#include "settings/settings_file.h"
#include "settings/shared_state.h"
#include "source/video_source.h"
#include "ui/cairo_painter.h"
#include "ui/camera_menu.h"
#include "ui/panel.h"
#include "ui/preview_picture.h"
#include "ui/reset_all.h"
#include "ui/thumbnail_cache.h"
#include "ui/window_paint.h"

namespace qm {
namespace {

constexpr int kFrameWidth = 1280, kFrameHeight = 720;
constexpr size_t kFrameBytes = static_cast<size_t>(kFrameWidth) * kFrameHeight * 4;
constexpr int kStartWidth = 1200, kStartHeight = 740;  // DIPs
constexpr int kMinWidth = 940, kMinHeight = 560;       // DIPs

class MainWindow;

// The one live window, for the engine's notices and the single-instance request, which arrive without
// a context pointer. Set and cleared on the window thread only.
MainWindow* liveWindow = nullptr;

class MainWindow : public PanelHost {
public:
    explicit MainWindow(WindowSettings& settings)
        : settings_(settings), panel_{settings.state, settings.lists, sharedState(),
                                      settings.paths, *this,          {}} {
        panel_.ui.statusMessage = settings.startNotice;
    }
    ~MainWindow() override;

    bool create();
    void onEngineNotice(EngineNotice notice);
    void present();

    // PanelHost
    void repaint() override {
        if (area_) gtk_widget_queue_draw(area_);
    }
    int popupMenu(const std::vector<MenuItem>& items, float x, float y) override;
    void releaseDeviceResources() override {
        thumbnails_.clear();
        preview_.reset();  // refilled from the frame copy by the next paint
        repaint();
    }
    void showCameraMenu() override { runCameraMenu(panel_, listCameras()); }
    void resetAll() override;
    std::string chooseVideoFile() override;
    std::string choosePicture(const std::string& title) override;
    bool isPicture(const std::string& path) override;
    std::string sceneNameText() override { return gtk_entry_get_text(GTK_ENTRY(sceneNameEdit_)); }
    void setSceneNameText(const std::string& text, bool focusAndSelect) override;
    const uint8_t* previewFrame(size_t* bytes) override {
        const bool full = panel_.ui.hasPreviewFrame && frameCopy_.size() == kFrameBytes;
        *bytes = full ? frameCopy_.size() : 0;
        return full ? frameCopy_.data() : nullptr;
    }

private:
    static gboolean onDraw(GtkWidget*, cairo_t* cr, gpointer self);
    static gboolean onButtonPress(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean onButtonRelease(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean onMotion(GtkWidget*, GdkEventMotion* event, gpointer self);
    static gboolean onLeave(GtkWidget*, GdkEventCrossing* event, gpointer self);
    static gboolean onGrabBroken(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean onScroll(GtkWidget*, GdkEventScroll* event, gpointer self);
    static gboolean onTimer(gpointer self);
    static void onDestroy(GtkWidget*, gpointer self);

    void paint(cairo_t* cr);
    void ensureDeviceResources();
    void refreshCutOutThumbnail();
    void placeSceneNameField(const PaintResult& result);
    void updateCursor();
    void logFirstPicture();

    WindowSettings& settings_;
    Panel panel_;
    GtkWidget* window_ = nullptr;
    GtkWidget* area_ = nullptr;
    GtkWidget* fixed_ = nullptr;
    GtkWidget* sceneNameEdit_ = nullptr;
    guint timer_ = 0;
    guint terminationCheck_ = 0;
    FontSet fonts_;
    ThumbnailCache thumbnails_;
    std::unique_ptr<PreviewPicture> preview_;
    std::vector<uint8_t> frameCopy_;  // the last frame taken from the engine
    bool firstPictureLogged_ = false;
    cairo_status_t lastFailure_ = CAIRO_STATUS_SUCCESS;
    bool handCursor_ = false;
    Rect sceneNameShown_;
};

MainWindow::~MainWindow() {
    thumbnails_.clear();
}

void postEngineNotice(EngineNotice notice) {
    // Engine thread: queue the notice on the main loop and return at once.
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            if (liveWindow) liveWindow->onEngineNotice(static_cast<EngineNotice>(GPOINTER_TO_INT(data)));
            return G_SOURCE_REMOVE;
        },
        GINT_TO_POINTER(notice), nullptr);
}

void applyDarkStyle() {
    GtkSettings* gtkSettings = gtk_settings_get_default();
    // The UI face for the few native parts too (dialogs, menus, the name field).
    if (gtkSettings)
        g_object_set(gtkSettings, "gtk-application-prefer-dark-theme", TRUE, "gtk-font-name", "Inter 10.5",
                     nullptr);
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css,
                                    "window.quillmere { background-color: #1E1E1E; }\n"
                                    "entry.scene-name { background: #2C2C2E; color: #ECECEC; "
                                    "font-family: Inter; font-size: 14px; border-radius: 6px; "
                                    "border: 1px solid rgba(255,255,255,0.14); box-shadow: none; "
                                    "min-height: 0; padding: 2px 8px; caret-color: #F0A83B; }\n",
                                    -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

// The application icon: an accent disc with a face, drawn rather than shipped.
GdkPixbuf* makeAppIcon(int size) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(surface);
    double s = size;
    cairo_set_source_rgb(cr, 0.9412, 0.6588, 0.2314);
    cairo_arc(cr, s / 2, s / 2, s * 0.47, 0, 2 * G_PI);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0.118, 0.118, 0.118);
    cairo_arc(cr, s * 0.36, s * 0.42, s * 0.07, 0, 2 * G_PI);
    cairo_arc(cr, s * 0.64, s * 0.42, s * 0.07, 0, 2 * G_PI);
    cairo_fill(cr);
    cairo_set_line_width(cr, s * 0.06);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_arc(cr, s / 2, s * 0.55, s * 0.2, 0.2 * G_PI, 0.8 * G_PI);
    cairo_stroke(cr);
    cairo_destroy(cr);
    GdkPixbuf* icon = gdk_pixbuf_get_from_surface(surface, 0, 0, size, size);
    cairo_surface_destroy(surface);
    return icon;
}

bool MainWindow::create() {
    // The engine sees the loaded settings before its first frame.
    publishFilters(settings_.state, settings_.paths, sharedState());

    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    if (!window_) return false;
    gtk_window_set_title(GTK_WINDOW(window_), "Quillmere");
    gtk_style_context_add_class(gtk_widget_get_style_context(window_), "quillmere");
    gtk_window_set_default_size(GTK_WINDOW(window_), kStartWidth, kStartHeight);
    GList* icons = nullptr;
    icons = g_list_append(icons, makeAppIcon(48));
    icons = g_list_append(icons, makeAppIcon(16));
    gtk_window_set_icon_list(GTK_WINDOW(window_), icons);
    g_list_free_full(icons, g_object_unref);

    GtkWidget* overlay = gtk_overlay_new();
    area_ = gtk_drawing_area_new();
    gtk_widget_set_size_request(area_, kMinWidth, kMinHeight);
    gtk_widget_add_events(area_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                     GDK_LEAVE_NOTIFY_MASK | GDK_SCROLL_MASK);
    g_signal_connect(area_, "draw", G_CALLBACK(onDraw), this);
    g_signal_connect(area_, "button-press-event", G_CALLBACK(onButtonPress), this);
    g_signal_connect(area_, "button-release-event", G_CALLBACK(onButtonRelease), this);
    g_signal_connect(area_, "motion-notify-event", G_CALLBACK(onMotion), this);
    g_signal_connect(area_, "leave-notify-event", G_CALLBACK(onLeave), this);
    g_signal_connect(area_, "grab-broken-event", G_CALLBACK(onGrabBroken), this);
    g_signal_connect(area_, "scroll-event", G_CALLBACK(onScroll), this);
    gtk_container_add(GTK_CONTAINER(overlay), area_);

    // The scene-name field floats over the drawing; the layer passes every other click through.
    fixed_ = gtk_fixed_new();
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay), fixed_);
    gtk_overlay_set_overlay_pass_through(GTK_OVERLAY(overlay), fixed_, TRUE);
    sceneNameEdit_ = gtk_entry_new();
    gtk_style_context_add_class(gtk_widget_get_style_context(sceneNameEdit_), "scene-name");
    gtk_entry_set_placeholder_text(GTK_ENTRY(sceneNameEdit_), "Name");
    gtk_entry_set_max_length(GTK_ENTRY(sceneNameEdit_), kMaxSceneNameChars);
    gtk_entry_set_has_frame(GTK_ENTRY(sceneNameEdit_), TRUE);
    gtk_fixed_put(GTK_FIXED(fixed_), sceneNameEdit_, 0, 0);
    gtk_widget_set_no_show_all(sceneNameEdit_, TRUE);

    gtk_container_add(GTK_CONTAINER(window_), overlay);
    g_signal_connect(window_, "destroy", G_CALLBACK(onDestroy), this);
    // A minimised window shows no preview: the engine may rest while no app reads the camera either.
    g_signal_connect(
        window_, "window-state-event", G_CALLBACK(+[](GtkWidget*, GdkEventWindowState* event, gpointer) {
            sharedState().previewHidden.store(event->new_window_state & GDK_WINDOW_STATE_ICONIFIED);
            return FALSE;
        }),
        nullptr);

    liveWindow = this;
    sharedState().notify.exchange(postEngineNotice);
    setPresentHandler([] {
        // Listener thread: hand the request to the main loop.
        g_idle_add(
            [](gpointer) -> gboolean {
                if (liveWindow) liveWindow->present();
                return G_SOURCE_REMOVE;
            },
            nullptr);
    });

    gtk_widget_show_all(window_);
    timer_ = g_timeout_add(1000, onTimer, this);
    // SIGINT and SIGTERM (caught by start-up for the whole run) close the window, so the program shuts
    // down in order as after a user close; further signals during the shutdown only raise the flag again.
    terminationCheck_ = g_timeout_add(
        100,
        [](gpointer self) -> gboolean {
            auto* w = static_cast<MainWindow*>(self);
            if (terminationRequested() && w->window_) {
                w->terminationCheck_ = 0;
                gtk_window_close(GTK_WINDOW(w->window_));
                return G_SOURCE_REMOVE;
            }
            return G_SOURCE_CONTINUE;
        },
        this);
    return true;
}

void MainWindow::present() {
    guint32 time = GDK_CURRENT_TIME;
#ifdef GDK_WINDOWING_X11
    GdkWindow* gdkWindow = gtk_widget_get_window(window_);
    if (gdkWindow && GDK_IS_X11_WINDOW(gdkWindow)) time = gdk_x11_get_server_time(gdkWindow);
#endif
    gtk_window_deiconify(GTK_WINDOW(window_));
    gtk_window_present_with_time(GTK_WINDOW(window_), time);
}

void MainWindow::onEngineNotice(EngineNotice notice) {
    if (notice == kNoticeNewFrame) {
        if (!takePreviewFrame(sharedState(), frameCopy_)) return;
        // A buffer of another size is not a preview frame.
        panel_.ui.hasPreviewFrame = frameCopy_.size() == kFrameBytes;
        if (preview_ && panel_.ui.hasPreviewFrame) preview_->setFrame(frameCopy_.data());
        repaint();
    } else {
        if (onStatusNotice(panel_)) repaint();
    }
}

int MainWindow::popupMenu(const std::vector<MenuItem>& items, float x, float y) {
    GdkWindow* gdkWindow = area_ ? gtk_widget_get_window(area_) : nullptr;
    if (!gdkWindow || items.empty()) return 0;
    struct Choice {
        int command = 0;
        GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    } choice;
    GtkWidget* menu = gtk_menu_new();
    for (const MenuItem& item : items) {
        GtkWidget* entry;
        if (item.separator) {
            entry = gtk_separator_menu_item_new();
        } else if (item.checked) {
            entry = gtk_check_menu_item_new_with_label(item.label.c_str());
            gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(entry), TRUE);
        } else {
            entry = gtk_menu_item_new_with_label(item.label.c_str());
        }
        gtk_widget_set_sensitive(entry, item.enabled);
        if (!item.separator) {
            g_object_set_data(G_OBJECT(entry), "qm-command", GINT_TO_POINTER(item.command));
            g_signal_connect(entry, "activate", G_CALLBACK(+[](GtkMenuItem* chosen, gpointer data) {
                                 static_cast<Choice*>(data)->command =
                                     GPOINTER_TO_INT(g_object_get_data(G_OBJECT(chosen), "qm-command"));
                             }),
                             &choice);
        }
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), entry);
    }
    gtk_widget_show_all(menu);
    // The menu closes before the chosen item's "activate" runs: end the wait one turn later.
    g_signal_connect(menu, "deactivate", G_CALLBACK(+[](GtkMenuShell*, gpointer data) {
                         g_idle_add(
                             [](gpointer loop) -> gboolean {
                                 g_main_loop_quit(static_cast<GMainLoop*>(loop));
                                 return G_SOURCE_REMOVE;
                             },
                             static_cast<Choice*>(data)->loop);
                     }),
                     &choice);
    GdkRectangle at{static_cast<int>(x), static_cast<int>(y), 1, 1};
    gtk_menu_attach_to_widget(GTK_MENU(menu), area_, nullptr);
    gtk_menu_popup_at_rect(GTK_MENU(menu), gdkWindow, &at, GDK_GRAVITY_NORTH_WEST, GDK_GRAVITY_NORTH_WEST,
                           nullptr);
    if (gtk_widget_get_visible(menu)) g_main_loop_run(choice.loop);
    g_main_loop_unref(choice.loop);
    gtk_widget_destroy(menu);
    return choice.command;
}

void MainWindow::resetAll() {
    GtkWidget* dialog = gtk_message_dialog_new(GTK_WINDOW(window_), GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING,
                                               GTK_BUTTONS_OK_CANCEL, "%s", kResetAllQuestion);
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", kResetAllText);
    gtk_window_set_title(GTK_WINDOW(dialog), kResetAllQuestion);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
    // GTK 3 message dialogs no longer show the type's icon by themselves; the warning sign is asked for.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkWidget* image = gtk_image_new_from_icon_name("dialog-warning", GTK_ICON_SIZE_DIALOG);
    gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(dialog), image);
    gtk_widget_show(image);
    G_GNUC_END_IGNORE_DEPRECATIONS
    const int answer = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    if (answer == GTK_RESPONSE_OK) resetEverything(panel_);
}

namespace {

// Runs a file chooser with one named filter (and "All files" when asked); the chosen path, or empty when
// cancelled. Only an existing plain file counts: a remote location has no local path.
std::string runFileChooser(GtkWidget* window, const std::string& title, const char* filterName,
                           std::initializer_list<const char*> patterns, bool allFiles) {
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        title.c_str(), GTK_WINDOW(window), GTK_FILE_CHOOSER_ACTION_OPEN, "_Open", "_Cancel");
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, filterName);
    for (const char* pattern : patterns)
        gtk_file_filter_add_pattern(filter, pattern);
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), filter);
    if (allFiles) {
        GtkFileFilter* all = gtk_file_filter_new();
        gtk_file_filter_set_name(all, "All files");
        gtk_file_filter_add_pattern(all, "*");
        gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), all);
    }
    std::string path;
    if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
        char* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
        if (chosen && isRegularFile(chosen)) path = chosen;
        g_free(chosen);
    }
    g_object_unref(chooser);
    return path;
}

}  // namespace

std::string MainWindow::chooseVideoFile() {
    return runFileChooser(window_, "Play a video file", "Videos",
                          {"*.mp4", "*.mov", "*.m4v", "*.avi", "*.wmv", "*.mkv"}, true);
}

std::string MainWindow::choosePicture(const std::string& title) {
    // "All files" too: a picture under another name is still taken when its decoder is installed.
    return runFileChooser(window_, title, "Pictures",
                          {"*.png", "*.jpg", "*.jpeg", "*.bmp", "*.gif", "*.tif", "*.tiff", "*.webp", "*.PNG",
                           "*.JPG", "*.JPEG", "*.BMP", "*.GIF", "*.TIF", "*.TIFF", "*.WEBP"},
                          true);
}

bool MainWindow::isPicture(const std::string& path) {
    return decodablePictureFile(path);
}

void MainWindow::setSceneNameText(const std::string& text, bool focusAndSelect) {
    gtk_entry_set_text(GTK_ENTRY(sceneNameEdit_), text.c_str());
    if (!focusAndSelect) return;
    // The field shows only once the next paint places it.
    gtk_widget_show(sceneNameEdit_);
    gtk_widget_grab_focus(sceneNameEdit_);
    gtk_editable_select_region(GTK_EDITABLE(sceneNameEdit_), 0, -1);
}

void MainWindow::refreshCutOutThumbnail() {
    // The face photo preparation writes the cut-out a moment after a photo is chosen; the selected
    // photo's tile switches to it within a second.
    const FilterState& state = settings_.state;
    if (state.tab != 0 || thumbnails_.empty() || state.faceId.empty()) return;
    const std::vector<std::string>& ids = settings_.lists.faceIds;
    for (int i = 0; i < static_cast<int>(ids.size()); ++i) {
        if (ids[i] != state.faceId || thumbnails_.cutOutLoaded(i)) continue;
        std::string cut = libraryFolder(settings_.paths, "faces") + ids[i] + ".cut.png";
        if (isRegularFile(cut)) thumbnails_.loadCutOut(i, cut);
    }
}

void MainWindow::ensureDeviceResources() {
    if (!preview_) {
        preview_ = std::make_unique<PreviewPicture>(kFrameWidth, kFrameHeight);
        if (!preview_->valid())
            logLine("window: cannot create the preview picture");
        else if (panel_.ui.hasPreviewFrame && frameCopy_.size() == kFrameBytes)
            preview_->setFrame(frameCopy_.data());
    }
    if (thumbnails_.empty()) {
        std::vector<std::string> wearFiles;
        for (const WearEntry& entry : kWearCatalogue)
            wearFiles.push_back(wearPictureFile(entry));
        thumbnails_.rebuild(settings_.paths, settings_.lists, wearFiles);
    }
}

void MainWindow::paint(cairo_t* cr) {
    ensureDeviceResources();
    float width = static_cast<float>(gtk_widget_get_allocated_width(area_));
    float height = static_cast<float>(gtk_widget_get_allocated_height(area_));
    EngineView engine = readEngineView(sharedState());
    PaintResult result;
    {
        CairoPainter painter(cr, fonts_, preview_.get(), &thumbnails_);
        result = paintWindow(painter, panel_, width, height, engine);
    }
    cairo_status_t status = cairo_status(cr);
    if (status != CAIRO_STATUS_SUCCESS && status != lastFailure_) {
        lastFailure_ = status;
        logLine("window: drawing failed %08X", 0x88990000u | static_cast<unsigned>(status));
    }
    if (!firstPictureLogged_) {
        firstPictureLogged_ = true;
        logFirstPicture();
    }
    placeSceneNameField(result);
}

void MainWindow::logFirstPicture() {
    GdkWindow* gdkWindow = gtk_widget_get_window(window_);
    bool hidden = !gdkWindow || (gdk_window_get_state(gdkWindow) &
                                 (GDK_WINDOW_STATE_WITHDRAWN | GDK_WINDOW_STATE_ICONIFIED)) != 0;
    logLine("window: first picture drawn (%08X), %s", 0u,
            hidden ? "window hidden or screen off" : "window visible");
}

void MainWindow::placeSceneNameField(const PaintResult& result) {
    if (!result.sceneNameVisible) {
        if (gtk_widget_get_visible(sceneNameEdit_)) gtk_widget_hide(sceneNameEdit_);
        return;
    }
    const Rect& r = result.sceneNameRect;
    if (!(r == sceneNameShown_)) {
        sceneNameShown_ = r;
        gtk_fixed_move(GTK_FIXED(fixed_), sceneNameEdit_, static_cast<int>(r.left), static_cast<int>(r.top));
        gtk_widget_set_size_request(sceneNameEdit_, static_cast<int>(r.width()),
                                    static_cast<int>(r.height()));
    }
    if (!gtk_widget_get_visible(sceneNameEdit_)) gtk_widget_show(sceneNameEdit_);
}

void MainWindow::updateCursor() {
    bool hand = panel_.ui.hoverKind != kHitNothing;
    if (hand == handCursor_) return;
    handCursor_ = hand;
    GdkWindow* gdkWindow = gtk_widget_get_window(area_);
    if (!gdkWindow) return;
    GdkCursor* cursor =
        hand ? gdk_cursor_new_from_name(gdk_window_get_display(gdkWindow), "pointer") : nullptr;
    gdk_window_set_cursor(gdkWindow, cursor);
    if (cursor) g_object_unref(cursor);
}

gboolean MainWindow::onDraw(GtkWidget*, cairo_t* cr, gpointer self) {
    static_cast<MainWindow*>(self)->paint(cr);
    return TRUE;
}

gboolean MainWindow::onButtonPress(GtkWidget*, GdkEventButton* event, gpointer self) {
    auto* w = static_cast<MainWindow*>(self);
    // Every press acts (a double click is two presses); GTK's extra 2- and 3-press events are ignored.
    if (event->type != GDK_BUTTON_PRESS || event->button != 1) return TRUE;
    // GTK holds the pointer for the area from here to the release: that is the drag's mouse capture.
    onLeftButtonDown(w->panel_, static_cast<float>(event->x), static_cast<float>(event->y));
    w->updateCursor();
    return TRUE;
}

gboolean MainWindow::onButtonRelease(GtkWidget*, GdkEventButton* event, gpointer self) {
    auto* w = static_cast<MainWindow*>(self);
    if (event->button == 1)
        endSliderDrag(w->panel_, true);
    else if (event->button == 3)
        onRightButtonUp(w->panel_, static_cast<float>(event->x), static_cast<float>(event->y));
    return TRUE;
}

gboolean MainWindow::onMotion(GtkWidget*, GdkEventMotion* event, gpointer self) {
    auto* w = static_cast<MainWindow*>(self);
    onMouseMove(w->panel_, static_cast<float>(event->x), static_cast<float>(event->y));
    w->updateCursor();
    return TRUE;
}

gboolean MainWindow::onLeave(GtkWidget*, GdkEventCrossing* event, gpointer self) {
    auto* w = static_cast<MainWindow*>(self);
    if (event->mode != GDK_CROSSING_NORMAL || w->panel_.ui.dragSlider >= 0) return FALSE;
    onMouseLeave(w->panel_);
    w->updateCursor();
    return FALSE;
}

gboolean MainWindow::onGrabBroken(GtkWidget*, GdkEvent*, gpointer self) {
    endSliderDrag(static_cast<MainWindow*>(self)->panel_, false);
    return FALSE;
}

gboolean MainWindow::onScroll(GtkWidget*, GdkEventScroll* event, gpointer self) {
    auto* w = static_cast<MainWindow*>(self);
    int delta = 0;
    if (event->direction == GDK_SCROLL_UP)
        delta = 120;
    else if (event->direction == GDK_SCROLL_DOWN)
        delta = -120;
    else if (event->direction == GDK_SCROLL_SMOOTH)
        delta = static_cast<int>(-event->delta_y * 120);
    if (delta != 0) onWheel(w->panel_, delta);
    return TRUE;
}

gboolean MainWindow::onTimer(gpointer self) {
    auto* w = static_cast<MainWindow*>(self);
    w->refreshCutOutThumbnail();
    onTimerTick(w->panel_);
    return G_SOURCE_CONTINUE;
}

void MainWindow::onDestroy(GtkWidget*, gpointer self) {
    auto* w = static_cast<MainWindow*>(self);
    if (w->timer_) g_source_remove(w->timer_);
    w->timer_ = 0;
    if (w->terminationCheck_) g_source_remove(w->terminationCheck_);
    w->terminationCheck_ = 0;
    // Unhook from the engine before it is stopped; notices already queued find no window.
    sharedState().notify.exchange(nullptr);
    setPresentHandler({});
    liveWindow = nullptr;
    w->area_ = nullptr;
    w->window_ = nullptr;
    gtk_main_quit();
}

bool initGtk() {
    static bool initialised = false;
    if (initialised) return true;
    // The window class the desktop groups the window by.
    g_set_prgname("quillmere");
    if (!gtk_init_check(nullptr, nullptr)) return false;
    gdk_set_program_class("QuillmereWindow");
    applyDarkStyle();
    initialised = true;
    return true;
}

}  // namespace

int runMainWindow(LaunchOptions&) {
    if (!initGtk()) {
        logLine("window: cannot open the display");
        std::fprintf(stderr, "quillmere: cannot open the display\n");
        return 1;
    }
    auto window = std::make_unique<MainWindow>(windowSettings());
    if (!window->create()) {
        logLine("window: cannot create the window");
        return 1;
    }
    gtk_main();
    return 0;
}

void showCameraFailureDialog(const std::string& text) {
    if (!initGtk()) return;
    GtkWidget* dialog =
        gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_CLOSE,
                               "The Quillmere camera could not be started.");
    // Without contextual alternates Inter would draw "0x8007" as "0×8007".
    char* markup = g_markup_printf_escaped("<span font_features=\"calt=0\">%s</span>", text.c_str());
    gtk_message_dialog_format_secondary_markup(GTK_MESSAGE_DIALOG(dialog), "%s", markup);
    g_free(markup);
    gtk_window_set_title(GTK_WINDOW(dialog), "Quillmere");
    // GTK 3 message dialogs no longer show the type's icon by themselves; the error sign is asked for.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkWidget* image = gtk_image_new_from_icon_name("dialog-error", GTK_ICON_SIZE_DIALOG);
    gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(dialog), image);
    gtk_widget_show(image);
    G_GNUC_END_IGNORE_DEPRECATIONS
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    while (gtk_events_pending())
        gtk_main_iteration();
}

}  // namespace qm
