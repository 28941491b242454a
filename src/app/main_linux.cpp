// Process entry and the main window of the Linux desktop program (GTK 3, WebKitGTK).
#include <errno.h>
#include <fcntl.h>
#include <gio/gunixsocketaddress.h>
#include <gtk/gtk.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/unique_resource.h"
#include "platform/gobject_owner_linux.h"
#include "platform/ui_event_queue_posix.h"
#include "platform/webkitgtk_linux.h"
#include "platform/window_operations_gtk_linux.h"
#include "service/api_bridge.h"
#include "shell/dispatcher.h"
#include "shell/host.h"
#include "shell/launch_config.h"
#include "shell/main_window.h"
#include "shell/window_placement.h"

namespace vardeko {
namespace {

constexpr char kApplicationId[] = "com.vardeko.Vardeko";
constexpr char kWindowTitle[] = "Vardeko \u00B7 Bokvara";
constexpr char kIconName[] = "vardeko";
constexpr char kStartupFailureText[] = "Vardeko 未能启动，请检查安装文件和后端地址后重试。";
// In the data directory: the lock decides which process is the first, whose socket the
// second start connects to, asking it to come to the front.
constexpr char kInstanceLock[] = "instance.lock";
constexpr char kInstanceSocket[] = "instance.socket";

using UniqueFd = UniqueResource<int, &close, MinusOneIsEmpty>;

// Everything the main window's handlers reach; lives in Run for the whole main loop.
struct Program {
  explicit Program(GtkApplication* application) : operations(application), host(operations) {
    operations.SetStartMove([this] { HandleStartMove(host); });
  }

  GtkWindowOperations operations;
  UiEventQueue queue;
  std::unique_ptr<BrowserRuntime> runtime;  // outlives the Host and its browser objects
  Host host;
  std::filesystem::path dataDirectory;
  GtkWindow* window = nullptr;
  GtkWidget* frame = nullptr;
  // The last rectangle of the window while neither maximised nor minimised: what it
  // restores to, and so what the next start remembers.
  Bounds normal;
  // The monitor the window was last on, read while the window still has its surface.
  std::optional<MonitorArea> monitor;
  int exitCode = 0;
};

Bounds ToBounds(const GdkRectangle& rect) {
  return Bounds{rect.x, rect.y, rect.x + rect.width, rect.y + rect.height};
}

std::vector<MonitorArea> PresentMonitors(GdkDisplay* display) {
  std::vector<MonitorArea> present;
  for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
    GdkMonitor* monitor = gdk_display_get_monitor(display, i);
    GdkRectangle geometry{};
    GdkRectangle work{};
    gdk_monitor_get_geometry(monitor, &geometry);
    gdk_monitor_get_workarea(monitor, &work);
    present.push_back(MonitorArea{ToBounds(geometry), ToBounds(work), 96});
  }
  return present;
}

// The monitor under the pointer, where the user started the program.
MonitorArea MonitorUnderPointer(GdkDisplay* display) {
  GdkMonitor* monitor = nullptr;
  if (GdkSeat* seat = gdk_display_get_default_seat(display)) {
    int x = 0;
    int y = 0;
    gdk_device_get_position(gdk_seat_get_pointer(seat), nullptr, &x, &y);
    monitor = gdk_display_get_monitor_at_point(display, x, y);
  }
  if (monitor == nullptr) monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle geometry{0, 0, kWindowWidth, kWindowHeight};
  GdkRectangle work = geometry;
  if (monitor != nullptr) {
    gdk_monitor_get_geometry(monitor, &geometry);
    gdk_monitor_get_workarea(monitor, &work);
  }
  return MonitorArea{ToBounds(geometry), ToBounds(work), 96};
}

std::optional<MonitorArea> MonitorOfWindow(GtkWindow* window) {
  GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(window));
  GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window));
  GdkMonitor* monitor =
      surface != nullptr ? gdk_display_get_monitor_at_window(display, surface) : nullptr;
  if (monitor == nullptr) return std::nullopt;
  GdkRectangle geometry{};
  GdkRectangle work{};
  gdk_monitor_get_geometry(monitor, &geometry);
  gdk_monitor_get_workarea(monitor, &work);
  return MonitorArea{ToBounds(geometry), ToBounds(work), 96};
}

// The minimum size, clamped to the work area of the window's monitor.
void ApplySizeLimits(GtkWindow* window, const MonitorArea& area) {
  const Size minimum = MinimumWindowSize(
      96, Size{area.work.right - area.work.left, area.work.bottom - area.work.top});
  GdkGeometry hints{};
  hints.min_width = minimum.width;
  hints.min_height = minimum.height;
  gtk_window_set_geometry_hints(window, nullptr, &hints, GDK_HINT_MIN_SIZE);
}

void SavePlaceForTheNextRun(Program& program) {
  if (program.normal.right <= program.normal.left || !program.monitor) return;
  SavePlace(program.dataDirectory, RememberPlace(program.normal, *program.monitor,
                                                 gtk_window_is_maximized(program.window)));
}

std::optional<GdkWindowEdge> EdgeOf(HitZone zone) {
  switch (zone) {
    case HitZone::kLeft:
      return GDK_WINDOW_EDGE_WEST;
    case HitZone::kRight:
      return GDK_WINDOW_EDGE_EAST;
    case HitZone::kTop:
      return GDK_WINDOW_EDGE_NORTH;
    case HitZone::kTopLeft:
      return GDK_WINDOW_EDGE_NORTH_WEST;
    case HitZone::kTopRight:
      return GDK_WINDOW_EDGE_NORTH_EAST;
    case HitZone::kBottom:
      return GDK_WINDOW_EDGE_SOUTH;
    case HitZone::kBottomLeft:
      return GDK_WINDOW_EDGE_SOUTH_WEST;
    case HitZone::kBottomRight:
      return GDK_WINDOW_EDGE_SOUTH_EAST;
  }
  return std::nullopt;
}

const char* CursorOf(HitZone zone) {
  switch (zone) {
    case HitZone::kLeft:
    case HitZone::kRight:
      return "ew-resize";
    case HitZone::kTop:
    case HitZone::kBottom:
      return "ns-resize";
    case HitZone::kTopLeft:
    case HitZone::kBottomRight:
      return "nwse-resize";
    case HitZone::kTopRight:
    case HitZone::kBottomLeft:
      return "nesw-resize";
  }
  return "default";
}

// The resize band under a point of the frame, in root coordinates.
std::optional<HitZone> ZoneAt(Program& program, double rootX, double rootY) {
  int x = 0;
  int y = 0;
  gtk_window_get_position(program.window, &x, &y);
  const Bounds window{x, y, x + gtk_widget_get_allocated_width(GTK_WIDGET(program.window)),
                      y + gtk_widget_get_allocated_height(GTK_WIDGET(program.window))};
  return HitTestResizeBorder(static_cast<int>(rootX), static_cast<int>(rootY), window, 96,
                             gtk_window_is_maximized(program.window));
}

gboolean OnFramePress(GtkWidget*, GdkEventButton* event, gpointer data) {
  auto& program = *static_cast<Program*>(data);
  if (event->type != GDK_BUTTON_PRESS || event->button != GDK_BUTTON_PRIMARY) return FALSE;
  const std::optional<HitZone> zone = ZoneAt(program, event->x_root, event->y_root);
  const std::optional<GdkWindowEdge> edge = zone ? EdgeOf(*zone) : std::nullopt;
  if (!edge) return FALSE;
  gtk_window_begin_resize_drag(program.window, *edge, static_cast<gint>(event->button),
                               static_cast<gint>(event->x_root), static_cast<gint>(event->y_root),
                               event->time);
  return TRUE;
}

gboolean OnFrameMotion(GtkWidget* widget, GdkEventMotion* event, gpointer data) {
  auto& program = *static_cast<Program*>(data);
  const std::optional<HitZone> zone = ZoneAt(program, event->x_root, event->y_root);
  GdkWindow* surface = gtk_widget_get_window(widget);
  if (surface == nullptr) return FALSE;
  GObjectPtr<GdkCursor> cursor(
      zone ? gdk_cursor_new_from_name(gtk_widget_get_display(widget), CursorOf(*zone)) : nullptr);
  gdk_window_set_cursor(surface, cursor.get());
  return FALSE;
}

// The events posted to the window's queue, taken on the main loop.
gboolean DrainQueue(gpointer data) {
  auto& program = *static_cast<Program*>(data);
  try {
    while (std::optional<UiEventQueue::Event> event =
               program.queue.Take(std::chrono::milliseconds(0))) {
      switch (event->message) {
        case WM_APP_POST_JSON:
          DeliverPostedJson(program.host, std::move(event->json));
          break;
        case WM_APP_CLOSE_CONFIRMED:
          HandleCloseConfirmed(program.host);
          break;
        case UiEventQueue::kCloseAttempt:
          if (program.host.window) HandleCloseAttempt(program.host);
          break;
        default:
          break;
      }
    }
  } catch (...) {
    // The next post drains again.
  }
  return G_SOURCE_REMOVE;
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
  try {
    HandleCloseAttempt(static_cast<Program*>(data)->host);
  } catch (...) {
  }
  return TRUE;  // the page decides, or HandleCloseAttempt destroyed the window
}

void OnDestroy(GtkWidget*, gpointer data) {
  auto& program = *static_cast<Program*>(data);
  try {
    SavePlaceForTheNextRun(program);
  } catch (...) {
  }
  HandleDestroy(program.host);
  program.operations.SetWindow(nullptr);
  program.window = nullptr;
}

gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer data) {
  auto& program = *static_cast<Program*>(data);
  try {
    if ((event->changed_mask & GDK_WINDOW_STATE_ICONIFIED) != 0)
      HandleSize(program.host, (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0);
  } catch (...) {
  }
  return FALSE;
}

gboolean OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer data) {
  auto& program = *static_cast<Program*>(data);
  GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(program.window));
  const GdkWindowState state =
      surface != nullptr ? gdk_window_get_state(surface) : GdkWindowState{};
  constexpr int kNotNormal =
      GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_FULLSCREEN;
  if ((state & kNotNormal) == 0) {
    int x = 0;
    int y = 0;
    gtk_window_get_position(program.window, &x, &y);
    program.normal = Bounds{x, y, x + event->width, y + event->height};
  }
  if (std::optional<MonitorArea> monitor = MonitorOfWindow(program.window))
    program.monitor = monitor;
  return FALSE;
}

void OnSizeAllocate(GtkWidget*, GdkRectangle*, gpointer data) {
  try {
    ResizeController(static_cast<Program*>(data)->host);
  } catch (...) {
  }
}

gboolean OnFocusIn(GtkWidget*, GdkEventFocus*, gpointer data) {
  auto& program = *static_cast<Program*>(data);
  try {
    HandleActivate(program.host, true, program.operations.IsMinimized(program.host.window));
  } catch (...) {
  }
  return FALSE;
}

// The session manager asks before the session ends: held up only for unsaved input.
void OnQueryEnd(GtkApplication*, gpointer data) {
  try {
    HandleQueryEndSession(static_cast<Program*>(data)->host);
  } catch (...) {
  }
}

// Another start for the same data directory: the window comes to the front.
gboolean OnSecondStart(GSocketService*, GSocketConnection*, GObject*, gpointer data) {
  auto& program = *static_cast<Program*>(data);
  if (program.window != nullptr) {
    gtk_window_deiconify(program.window);
    gtk_window_present(program.window);
  }
  return FALSE;
}

void ApplyBackground(GtkWidget* frame) {
  const Color& c = kBackgroundColor;
  const std::string css = "* { background-color: rgb(" + std::to_string(c.red) + "," +
                          std::to_string(c.green) + "," + std::to_string(c.blue) + "); }";
  GObjectPtr<GtkCssProvider> provider(gtk_css_provider_new());
  gtk_css_provider_load_from_data(provider.get(), css.c_str(), -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(frame),
                                 GTK_STYLE_PROVIDER(provider.get()),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void CreateMainWindow(Program& program, GtkApplication* application) {
  GtkWidget* widget = gtk_application_window_new(application);
  program.window = GTK_WINDOW(widget);
  program.operations.SetWindow(program.window);
  gtk_window_set_title(program.window, kWindowTitle);
  gtk_window_set_icon_name(program.window, kIconName);
  gtk_window_set_decorated(program.window, FALSE);

  // The frame shows the page's colour in the resize band around the view.
  program.frame = gtk_event_box_new();
  ApplyBackground(program.frame);
  gtk_widget_add_events(program.frame, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK);
  g_signal_connect(program.frame, "button-press-event", G_CALLBACK(&OnFramePress), &program);
  g_signal_connect(program.frame, "motion-notify-event", G_CALLBACK(&OnFrameMotion), &program);
  gtk_container_add(GTK_CONTAINER(widget), program.frame);

  GdkDisplay* display = gtk_widget_get_display(widget);
  const MonitorArea pointer = MonitorUnderPointer(display);
  const StartPlace place =
      ChooseStartPlace(LoadPlace(program.dataDirectory), PresentMonitors(display), pointer);
  ApplySizeLimits(program.window, pointer);
  gtk_window_set_default_size(program.window, place.bounds.right - place.bounds.left,
                              place.bounds.bottom - place.bounds.top);
  gtk_window_move(program.window, place.bounds.left, place.bounds.top);
  program.normal = place.bounds;
  if (place.maximized) gtk_window_maximize(program.window);

  g_signal_connect(widget, "delete-event", G_CALLBACK(&OnDelete), &program);
  g_signal_connect(widget, "destroy", G_CALLBACK(&OnDestroy), &program);
  g_signal_connect(widget, "window-state-event", G_CALLBACK(&OnWindowState), &program);
  g_signal_connect(widget, "configure-event", G_CALLBACK(&OnConfigure), &program);
  g_signal_connect(widget, "size-allocate", G_CALLBACK(&OnSizeAllocate), &program);
  g_signal_connect(widget, "focus-in-event", G_CALLBACK(&OnFocusIn), &program);
  gtk_widget_show_all(widget);
}

void ShowStartupFailure() {
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                             GTK_BUTTONS_OK, "%s", kStartupFailureText);
  gtk_window_set_title(GTK_WINDOW(dialog), "Vardeko");
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
}

void OnActivate(GtkApplication* application, gpointer data) {
  auto& program = *static_cast<Program*>(data);
  if (program.window != nullptr) return;
  try {
    CreateMainWindow(program, application);
    program.host.window = program.queue.window();
    program.host.runtimeName = kWebKitRuntimeName;
    LaunchPlatform& platform = SystemLaunchPlatform();
    const LaunchConfig config =
        ResolveLaunchConfig(platform, PageSource::kRendererFolder, kWebKitPageOrigin);
    program.runtime =
        CreateWebKitRuntime(GTK_CONTAINER(program.frame), std::string(kWebKitPageScheme));
    program.host.Start(config,
                       std::make_shared<ApiBridge>(config.serviceBaseUrl, config.dataDirectory),
                       *program.runtime);
  } catch (...) {
    program.exitCode = 1;
    ShowStartupFailure();
    if (program.window != nullptr) gtk_widget_destroy(GTK_WIDGET(program.window));
  }
}

// Takes the data directory's lock into `lock`; false when another process holds it.
// Without a lock at all (no file, or a file system without locks) the program runs
// unguarded, as on Windows without a mutex.
bool TakeSingleInstance(const std::filesystem::path& dataDirectory, UniqueFd& lock) {
  std::filesystem::create_directories(dataDirectory);
  lock.reset(open((dataDirectory / kInstanceLock).c_str(),
                  O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!lock) return true;
  return flock(lock.get(), LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

void BringFirstInstanceToFront(const std::filesystem::path& socketPath) {
  GObjectPtr<GSocketAddress> address(g_unix_socket_address_new(socketPath.c_str()));
  GObjectPtr<GSocketClient> client(g_socket_client_new());
  GSocketConnection* connection =
      g_socket_client_connect(client.get(), G_SOCKET_CONNECTABLE(address.get()), nullptr, nullptr);
  if (connection != nullptr) g_object_unref(connection);
}

// The first instance listens at the socket beside its lock; a stale socket file of an
// ended run is replaced. Without it the second start finds no one to raise.
GObjectPtr<GSocketService> ListenForSecondStarts(const std::filesystem::path& socketPath,
                                                 Program& program) {
  std::error_code ignored;
  std::filesystem::remove(socketPath, ignored);
  GObjectPtr<GSocketService> service(g_socket_service_new());
  GObjectPtr<GSocketAddress> address(g_unix_socket_address_new(socketPath.c_str()));
  if (!g_socket_listener_add_address(G_SOCKET_LISTENER(service.get()), address.get(),
                                     G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_DEFAULT, nullptr,
                                     nullptr, nullptr)) {
    return nullptr;
  }
  g_signal_connect(service.get(), "incoming", G_CALLBACK(&OnSecondStart), &program);
  g_socket_service_start(service.get());
  return service;
}

int Run(int argc, char** argv) {
  std::filesystem::path dataDirectory;
  UniqueFd lock;
  try {
    dataDirectory = ResolveDataDirectory(SystemLaunchPlatform());
    if (!TakeSingleInstance(dataDirectory, lock)) {
      BringFirstInstanceToFront(dataDirectory / kInstanceSocket);
      return 0;
    }
  } catch (...) {
    if (gtk_init_check(&argc, &argv)) ShowStartupFailure();
    return 1;
  }
  // Uniqueness is the lock's, per data directory: the application stays non-unique on
  // the bus, which it uses for the logout inhibition and the session's end.
  GObjectPtr<GtkApplication> application(gtk_application_new(
      kApplicationId, static_cast<GApplicationFlags>(G_APPLICATION_NON_UNIQUE)));
  g_object_set(application.get(), "register-session", TRUE, nullptr);
  g_set_prgname("vardeko");
  Program program(application.get());
  program.dataDirectory = dataDirectory;
  program.queue.SetWakeUp([&program] { g_idle_add(&DrainQueue, &program); });
  const GObjectPtr<GSocketService> instances =
      ListenForSecondStarts(dataDirectory / kInstanceSocket, program);
  g_signal_connect(application.get(), "activate", G_CALLBACK(&OnActivate), &program);
  g_signal_connect(application.get(), "query-end", G_CALLBACK(&OnQueryEnd), &program);
  // Only the program's name: the arguments are not the application's to parse.
  char* programName[] = {argv[0], nullptr};
  const int status = g_application_run(G_APPLICATION(application.get()), 1, programName);
  if (instances) g_socket_service_stop(instances.get());
  return status != 0 ? status : program.exitCode;
}

}  // namespace
}  // namespace vardeko

int main(int argc, char** argv) { return vardeko::Run(argc, argv); }
