// The main window: every control of a run, the program state, and the
// dispatch of each user action to the subsystem that carries it out.
#pragma once

#include "app/program_state.h"
#include "app/window_reporter.h"
#include "blend/blend.h"
#include "develop/dcraw_command.h"
#include "develop/dcraw_process.h"
#include "develop/decoder_choice.h"
#include "develop/patch.h"
#include "maps/maps.h"
#include "pipeline/image_set.h"
#include "pipeline/set_pictures.h"
#include "pipeline/set_settings.h"
#include "support/objeto_imagen.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QTimer;
class QUrl;
class frmIntro;
class PreviewBox;
class DcrawLogWindow;
class ViewerWindow;
class FullDevelopment;
enum class DevelopmentStatus;

// What the window asks of the desktop, replaceable so tests run without a person.
struct WindowHooks {
    // File-open dialog: title, filter; returns the chosen path or "" on cancel.
    std::function<QString(const QString& title, const QString& filter)> openFile;
    // A modal box with one OK button and no icon.
    std::function<void(const QString& title, const QString& text)> messageBox;
    std::function<void(const QUrl& url)> openUrl;
    std::function<void()> beep;
    // The decoders the window starts; tests may point them elsewhere.
    QString rutaDCRAW = RutaDCRAW;
    QString rutaLibRaw = RutaLibRaw;
    std::shared_ptr<DecoderLauncher> launcher;
    // Wait before loading a set for highlight recovery, in milliseconds.
    int highlightWaitMs = 4000;
    // dcraw processes of a full development at once; 0 = one per core.
    int maxDecoders = 0;
    // Free memory in bytes for those processes; empty = the system's figure.
    std::function<qint64()> memoryAvailable;
};

WindowHooks defaultWindowHooks();

class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(WindowHooks hooks = defaultWindowHooks(), QWidget* parent = nullptr);
    ~frmMain() override;

    // Start-up: intro window, lists, first command line, state, image library.
    void Form_Load();

    // The status log exactly as written (lines end in CR LF).
    const QString& statusText() const { return statusText_; }
    Reporter& reporter() { return reporter_; }
    WindowHooks& hooks() { return hooks_; }
    frmIntro* intro() const { return intro_; }

    ProgramState estado;
    QStringList ArchivosRAW;
    PatchGeometry patch;
    ObjetoImagen ImagenPantalla;
    int16_t NumRevelados = 0;   // files the last full development handed to dcraw
    int16_t UltimoRevelado = 0; // 1-based entry of ArchivosRAW handed last
    ImageSet imagenes;

    // Controls, by their names.
    QLineEdit* txtRuta = nullptr;
    QPushButton* cmdSeleccionar = nullptr;
    QPushButton* cmdCopyClipBoard = nullptr;
    QPushButton* cmdView = nullptr;
    PreviewBox* pctImagen = nullptr;
    QLabel* lblXY = nullptr;
    QLabel* Label15 = nullptr;
    QPlainTextEdit* txtStatus = nullptr;
    QLabel* Label16 = nullptr;
    QPlainTextEdit* txtFiles = nullptr;
    QPushButton* cmdSalir = nullptr;
    QTimer* timReveladoRapidoNeutro = nullptr;
    QTimer* timReveladoRapido = nullptr;
    QTimer* timRevelado = nullptr;
    QTimer* timReveladoHLRecovery = nullptr;

    QGroupBox* frmRevelado = nullptr;
    QGroupBox* V = nullptr;
    std::array<QRadioButton*, 5> optWB{};
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    std::array<QLineEdit*, 3> txtWB{};
    QComboBox* cmbWB = nullptr;
    QPushButton* cmdCalculateWB = nullptr;
    QPushButton* cmdParche = nullptr;
    QScrollBar* hscTemp = nullptr;
    QLabel* Label10 = nullptr;
    QScrollBar* hscTint = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label17 = nullptr;
    QLineEdit* txtSat = nullptr;
    QComboBox* cmbSat = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* cmbQuality = nullptr;
    QLabel* Label3 = nullptr;
    QComboBox* cmbProfile = nullptr;
    QLabel* Label24 = nullptr;
    QComboBox* cmbDecoder = nullptr;
    QPushButton* cmdDevelop = nullptr;
    QPushButton* chkHLRecovery = nullptr;
    QCheckBox* chkHeadroom = nullptr;

    QGroupBox* frmMap = nullptr;
    QLabel* Label1 = nullptr;
    QScrollBar* hscTH = nullptr;
    QLabel* lblTH = nullptr;
    QLabel* Label12 = nullptr;
    QScrollBar* hscAntiGhost = nullptr;
    QLabel* lblAntiGhost = nullptr;
    QLabel* Label4 = nullptr;
    QScrollBar* hscProgressive = nullptr;
    QLabel* lblProgressive = nullptr;
    QPushButton* cmdEV = nullptr;
    QPushButton* cmdEVMethod = nullptr;
    QPushButton* cmdBuildMap = nullptr;
    QCheckBox* chkAlign = nullptr;
    QCheckBox* chkDeghost = nullptr;

    QGroupBox* frmBlend = nullptr;
    QLabel* Label18 = nullptr;
    QCheckBox* chkWeighted = nullptr;
    QLineEdit* txtRutaMap = nullptr;
    QPushButton* cmdSelMap = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label19 = nullptr;
    QLabel* Label21 = nullptr;
    QScrollBar* hscBWR = nullptr;
    QLabel* lblBWR = nullptr;
    QScrollBar* hscBWB = nullptr;
    QLabel* lblBWB = nullptr;
    QLabel* Label25 = nullptr;
    QComboBox* cmbFormat = nullptr;
    QLabel* Label13 = nullptr;
    QScrollBar* hscGamma = nullptr;
    QLabel* lblGamma = nullptr;
    QPushButton* chkETTR = nullptr;
    QLabel* Label23 = nullptr;
    QLabel* Label14 = nullptr;
    QScrollBar* hscBracketNum = nullptr;
    QLabel* Label22 = nullptr;
    QScrollBar* hscBracketEV = nullptr;
    QLineEdit* txtBracket = nullptr;
    QPushButton* cmdBlend = nullptr;
    QPushButton* cmdBlendBW = nullptr;
    QPushButton* cmdTestBW = nullptr;

    QGroupBox* Frame1 = nullptr;
    QLabel* lblDCRAW = nullptr;
    QLabel* Label20 = nullptr;
    QLineEdit* txtDCRAW = nullptr;
    QLabel* lblFooter = nullptr;
    QLabel* lblWeb = nullptr;

    // Settings as they stand in the controls right now: the whole record,
    // for a blend in B&W or colour, and the development's part of it.
    SetSettings readSetSettings(bool blancoNegro = false) const;
    DevelopSettings readSettings() const;
    DecoderSetting decoderSetting() const;
    DecoderPaths decoderPaths() const { return {hooks_.rutaDCRAW, hooks_.rutaLibRaw}; }
    // The decoder of the current set, which the preview of `ruta` (the
    // reference) also uses, so that the preview matches the developed set.
    DecoderChoice decoderFor(const QString& ruta);

    // Reference file and RAW set.
    void cmdSeleccionar_Click();
    // Files dropped on the window: the first becomes the reference as if
    // chosen with "...", the others are ignored with a status line.
    void dropRawFiles(const QStringList& paths);

    // Development settings.
    void optWB_Click(int index);
    void txtWB_Click(int index);
    void txtWB_LostFocus(int index);
    void cmbWB_Click();
    void cmbWB_Change();
    void txtSat_Change();
    void txtSat_LostFocus();
    void cmbSat_Click();
    void cmbSat_Change();
    void cmbQuality_Click();
    void cmbQuality_Change();
    void cmbProfile_Click();
    void cmbProfile_Change();
    void cmbDecoder_Click();
    void chkHeadroom_Click();
    void txtDCRAW_LostFocus();
    void AplicarPresetWB();

    // Development runs and their completions.
    void ReveladoRapido(const QString& ruta, bool neutro);
    void Revelado(const QString& ruta);
    void ComprobarReveladoRapidoNeutro(const QString& ruta);
    void ComprobarReveladoRapido(const QString& ruta);
    void ComprobarRevelado();
    void ComprobarReveladoHLRecovery();
    void cmdDevelop_Click();
    void chkHLRecovery_Click();
    void cmdCalculateWB_Click();
    void cmdEV_Click();
    void cmdEVMethod_Click();

    // Blending map.
    MapSettings readMapSettings() const;
    void cmdBuildMap_Click();
    void cmdSelMap_Click();

    // Blending and the contact sheet.
    BlendSettings readBlendSettings(bool blancoNegro) const;
    // The output format chosen: the gamma bar only shapes the 16-bit TIFF.
    void cmbFormat_Click();
    void cmdBlend_Click();
    void cmdBlendBW_Click();
    void cmdTestBW_Click();

    // Preview and patch.
    int MostrarTIFF(const QString& ruta);
    void DibujarPatch(bool copiar);
    void pctImagen_MouseDown(float x, float y);
    void pctImagen_MouseMove(float x, float y);
    void pctImagen_MouseUp(float x, float y);
    void cmdParche_Click();
    void cmdCopyClipBoard_Click();
    // "View" and a double-click on the box: the viewer on what the box shows.
    void cmdView_Click();

    // What an operation made, kept by the reporter until the operation ends;
    // then shown in the preview box when its file is still there.
    void keepResult(ResultKind kind, const QString& path, const QImage& picture);
    void showLatestResult();
    static QString resultCaption(ResultKind kind, const QString& path);

    // The files of the set the viewer offers, the latest of each kind.
    const SetFiles& setFiles() const { return files_; }
    // The viewer, once opened (it stays for the session, hidden when closed).
    ViewerWindow* viewer() const { return viewer_.get(); }

    DcrawLogWindow* dcrawLog() const { return dcrawLog_; }
    // The full development the Develop button runs.
    FullDevelopment& development() { return *development_; }
    // True while an operation runs; timer completions then wait a tick.
    bool busy() const { return busy_ > 0; }

    // Output-stage controls whose labels follow their bars.
    void ActualizarBracketing();

    void cmdSalir_Click();

    // Called by the reporter.
    void setStatusText(const QString& text);
    void showCommandLine(const QString& text);

  signals:
    // The last running operation has ended: files it wrote are whole now.
    void operationEnded();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildControls();
    // The step of "..." after a file is chosen: listing, preview.
    void useReference(const QString& chosen);
    // A drag of files over the window or one of its boxes; false for others.
    bool handleFileDrag(QEvent* event);
    void blend(bool blancoNegro);
    void connectControls();
    void fillLists();
    // Selects a list item from code and runs the list's click handler when the
    // index changed, as a user's choice would.
    void setListIndex(QComboBox* list, int index);
    void selectOptWB(int index);
    int selectedOptWB() const;
    // Rebuilds the quick line; when it changed, shows it (disabling the
    // downstream buttons first when asked) and re-develops the preview.
    void refreshRule(bool disableSix);
    void disableSix();
    void showPlainPreview();
    // True when the run's TIFF is whole and the completion may go on; a run
    // whose decoder ended without it is reported and its timer stopped.
    bool runComplete(const DcrawRun& run, QTimer* timer);
    // Measures the patch on the reference's TIFF into the multiplier boxes.
    bool measurePatch(const QString& ruta);
    // Ends a quick run whose decoder stopped without a whole TIFF.
    void reportFailedRun(QTimer* timer, const DcrawRun& run);
    QString quickLine();
    DecoderLauncher& launcher();
    // The widgets' side of the full development's state: its two timers, the
    // DCRAW message window, the focus and Calc EV.
    void showDevelopment(DevelopmentStatus status);
    // One completion tick of the full development (either of its two timers).
    void pollDevelopment();
    // False (after the report, with the run's timer stopped) when a complete
    // line of this length may not be started.
    bool withinLengthLimit(qsizetype length, QTimer* timer);
    // Starts a quick run with these arguments, and the timer that waits for `tiff`.
    DcrawRun startDecoder(const Decoder& decoder, const QStringList& arguments,
                          const QString& tiff, const QString& rawPath, QTimer* timer);

    WindowHooks hooks_;
    WindowReporter reporter_;
    QString statusText_;
    frmIntro* intro_ = nullptr;
    DcrawLogWindow* dcrawLog_ = nullptr;
    int busy_ = 0;
    friend class BusyScope;

    struct KeptResult {
        ResultKind kind;
        QString path;
        QImage picture;
    };
    std::optional<KeptResult> keptResult_;
    // What the box shows when it shows a result.
    PictureKind boxKind_ = PictureKind::Preview;

    // The set's files for the viewer, and the frames as it last saw them.
    SetFiles files_;
    QString movingAreasMap_;  // the map files_.movingAreas were found with
    FramesState framesSeen_;
    std::unique_ptr<ViewerWindow> viewer_;
    // Tells the viewer that the set's files or frames may have changed.
    void setFilesChanged();

    // The run each timer waits for.
    DcrawRun runRapidoNeutro_;
    DcrawRun runRapido_;
    std::unique_ptr<FullDevelopment> development_;
    // Starts the development's next files as soon as processes end, between
    // the 3000 ms completion ticks.
    QTimer* decoderStartTimer_ = nullptr;

    // Each list's index as its click handler last remembered it.
    int indexWB_ = -1;
    int indexSat_ = -1;
    int indexQuality_ = -1;
    int indexProfile_ = -1;
};
