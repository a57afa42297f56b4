// The setup window on Linux: GTK 4 widgets laid out like the AppKit window, forwarding its four
// buttons to the shared SetupController. Alerts and questions are modal: each runs a nested main
// loop until answered, so the controller's flows read the same on both platforms.
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/system_locations.h"
#include "setup/setup_window.h"
#include "setup_core/setup_controller.h"

namespace quenra {
namespace {

constexpr int contentWidth = 540;
constexpr int contentHeight = 360;

// Korean words stay whole and lines break at spaces, as Korean is set (and as AppKit wraps it);
// Pango alone breaks between any two Hangul syllables. Words of plain ASCII, such as a long path
// in an error message, keep Pango's own break opportunities so they can never overflow the line.
void keepWordsWhole(GtkLabel* label, const std::string& text) {
    PangoAttrList* attributes = pango_attr_list_new();
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t wordStart = text.find_first_not_of(' ', start);
        if (wordStart == std::string::npos) {
            break;
        }
        std::size_t wordEnd = text.find(' ', wordStart);
        if (wordEnd == std::string::npos) {
            wordEnd = text.size();
        }
        const bool ascii = std::all_of(text.begin() + static_cast<std::ptrdiff_t>(wordStart),
                                       text.begin() + static_cast<std::ptrdiff_t>(wordEnd),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        start = wordEnd;
        if (ascii) {
            continue;
        }
        PangoAttribute* keep = pango_attr_allow_breaks_new(FALSE);
        keep->start_index = static_cast<guint>(wordStart);
        keep->end_index = static_cast<guint>(wordEnd);
        pango_attr_list_insert(attributes, keep);
    }
    gtk_label_set_attributes(label, attributes);
    pango_attr_list_unref(attributes);
}

class GtkSetupView : public SetupView {
  public:
    void attach(GtkWindow* window, GtkLabel* status) {
        window_ = window;
        status_ = status;
    }

    void setStatus(const std::string& text) override {
        gtk_label_set_text(status_, text.c_str());
        keepWordsWhole(status_, text);
    }

    void showAlert(const std::string& text) override {
        GtkWidget* dialog = gtk_message_dialog_new(
            window_, GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
            GTK_MESSAGE_INFO, GTK_BUTTONS_OK, "%s", SetupTexts::english().title.c_str());
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", text.c_str());
        runModal(GTK_DIALOG(dialog));
    }

    bool askQuestion(const std::string& text, const std::string& continueLabel,
                     const std::string& cancelLabel) override {
        GtkWidget* dialog = gtk_message_dialog_new(
            window_, GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
            GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE, "%s", text.c_str());
        gtk_dialog_add_button(GTK_DIALOG(dialog), continueLabel.c_str(), GTK_RESPONSE_ACCEPT);
        gtk_dialog_add_button(GTK_DIALOG(dialog), cancelLabel.c_str(), GTK_RESPONSE_CANCEL);
        gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
        return runModal(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT;
    }

    void openAddress(const std::string& address) override {
        GError* error = nullptr;
        // Like the workspace on macOS: a browser that can't be started changes nothing here.
        if (!g_app_info_launch_default_for_uri(address.c_str(), nullptr, &error)) {
            g_error_free(error);
        }
    }

  private:
    struct ModalRun {
        GMainLoop* loop;
        int response;
    };

    static void onResponse(GtkDialog*, int response, gpointer data) {
        auto* run = static_cast<ModalRun*>(data);
        run->response = response;
        g_main_loop_quit(run->loop);
    }

    static int runModal(GtkDialog* dialog) {
        ModalRun run{g_main_loop_new(nullptr, FALSE), GTK_RESPONSE_NONE};
        g_signal_connect(dialog, "response", G_CALLBACK(onResponse), &run);
        gtk_window_present(GTK_WINDOW(dialog));
        g_main_loop_run(run.loop);
        g_main_loop_unref(run.loop);
        gtk_window_destroy(GTK_WINDOW(dialog));
        return run.response;
    }

    GtkWindow* window_ = nullptr;
    GtkLabel* status_ = nullptr;
};

struct Application {
    std::vector<Integration> integrations;
    bool korean;
    GtkSetupView view;
    std::unique_ptr<SetupController> controller;
};

GtkWidget* wrappingLabel(const std::string& text) {
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    // A small natural width lets the fixed content width decide where lines break.
    gtk_label_set_max_width_chars(GTK_LABEL(label), 1);
    gtk_widget_set_hexpand(label, TRUE);
    keepWordsWhole(GTK_LABEL(label), text);
    return label;
}

GtkWidget* button(const std::string& text, void (SetupController::*action)(),
                  Application* application) {
    GtkWidget* widget = gtk_button_new_with_label(text.c_str());
    gtk_widget_set_halign(widget, GTK_ALIGN_START);
    struct Binding {
        Application* application;
        void (SetupController::*action)();
    };
    auto* binding = new Binding{application, action};
    g_signal_connect_data(
        widget, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
            auto* bound = static_cast<Binding*>(data);
            (bound->application->controller.get()->*bound->action)();
        }),
        binding, +[](gpointer data, GClosure*) { delete static_cast<Binding*>(data); },
        GConnectFlags(0));
    return widget;
}

void buildMenu(GtkApplication* app, const SetupTexts& texts) {
    GSimpleAction* quit = g_simple_action_new("quit", nullptr);
    g_signal_connect_swapped(quit, "activate", G_CALLBACK(g_application_quit), app);
    g_action_map_add_action(G_ACTION_MAP(app), G_ACTION(quit));
    g_object_unref(quit);
    const char* accelerators[] = {"<Control>q", nullptr};
    gtk_application_set_accels_for_action(app, "app.quit", accelerators);

    GMenu* appMenu = g_menu_new();
    g_menu_append(appMenu, texts.quit.c_str(), "app.quit");
    GMenu* menuBar = g_menu_new();
    g_menu_append_submenu(menuBar, texts.title.c_str(), G_MENU_MODEL(appMenu));
    gtk_application_set_menubar(app, G_MENU_MODEL(menuBar));
    g_object_unref(appMenu);
    g_object_unref(menuBar);
}

void activate(GtkApplication* app, gpointer data) {
    auto* application = static_cast<Application*>(data);
    application->controller = std::make_unique<SetupController>(
        application->integrations, application->korean, application->view);
    const SetupTexts& texts = application->controller->texts();
    buildMenu(app, texts);

    GtkWidget* window = gtk_application_window_new(app);
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window), TRUE);
    gtk_window_set_title(GTK_WINDOW(window), texts.title.c_str());
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);

    // The content area keeps its fixed size below the menu bar; the stack sits inside it with
    // the same margins as on macOS (leading/trailing 28, top 26, bottom at least 20).
    GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_size_request(content, contentWidth, contentHeight);
    GtkWidget* stack = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_widget_set_margin_start(stack, 28);
    gtk_widget_set_margin_end(stack, 28);
    gtk_widget_set_margin_top(stack, 26);
    gtk_widget_set_margin_bottom(stack, 20);
    gtk_box_append(GTK_BOX(content), stack);

    GtkWidget* heading = gtk_label_new(nullptr);
    char* markup = g_markup_printf_escaped("<span size=\"24576\" weight=\"600\">%s</span>",
                                           texts.title.c_str());
    gtk_label_set_markup(GTK_LABEL(heading), markup);
    g_free(markup);
    gtk_widget_set_halign(heading, GTK_ALIGN_START);

    GtkWidget* version = gtk_label_new(texts.versionLine.c_str());
    gtk_widget_set_halign(version, GTK_ALIGN_START);
    gtk_widget_add_css_class(version, "dim-label");
    GtkWidget* status = wrappingLabel("");

    for (GtkWidget* child : {
             heading,
             wrappingLabel(texts.description),
             version,
             button(texts.installButton, &SetupController::installIntegration, application),
             button(texts.testButton, &SetupController::testConnection, application),
             button(texts.removeButton, &SetupController::removeIntegration, application),
             button(texts.websiteButton, &SetupController::openWebsite, application),
             status,
         }) {
        gtk_box_append(GTK_BOX(stack), child);
    }
    gtk_window_set_child(GTK_WINDOW(window), content);

    application->view.attach(GTK_WINDOW(window), GTK_LABEL(status));
    application->controller->refresh();
    // GTK leaves placement to the window manager, which centres new windows by its own rule.
    gtk_window_present(GTK_WINDOW(window));
}

}  // namespace

int SetupWindow::run(const std::vector<Integration>& integrations) {
    if (!gtk_init_check()) {
        std::fputs(
            "quenra-bridge-setup: no display to show the window on; use --status, --register, "
            "--unregister or --test.\n",
            stderr);
        return 1;
    }
    Application application{
        integrations, prefersKorean(SystemLocations::preferredLanguages()), {}, nullptr};
    GtkApplication* app =
        gtk_application_new("tech.ostrell.quenra.bridge.setup", G_APPLICATION_NON_UNIQUE);
    g_signal_connect(app, "activate", G_CALLBACK(activate), &application);
    // The program's own arguments were read already; GTK gets none.
    const int status = g_application_run(G_APPLICATION(app), 0, nullptr);
    g_object_unref(app);
    return status;
}

}  // namespace quenra
