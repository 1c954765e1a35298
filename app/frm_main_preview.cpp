// The preview: showing a developed TIFF, the pointer read-out, dragging the
// white-balance patch, the shape toggle and "Snapshot".
#include "app/frm_main.h"
#include "app/preview_box.h"
#include "support/numbers.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {
constexpr uint32_t kPatchColour = 1316095;  // red 255, green 20, blue 20
}

int frmMain::MostrarTIFF(const QString& ruta) {
    try {
        ObjetoImagen picture;
        picture.Cargar(ruta);
        const QSize shown = tamanoMostrado(pctImagen->innerWidth(), pctImagen->innerHeight(),
                                           picture.Ancho(), picture.Alto());
        picture.Redimensionar(shown.width(), shown.height());
        picture.CorregirGamma(2.2);
        ImagenPantalla = picture;
        patch.AnchoMostrado = static_cast<int16_t>(shown.width());
        patch.AltoMostrado = static_cast<int16_t>(shown.height());
        files_.preview.made(ruta);
        if (optWB[kWBParche]->isChecked() && estado.ParcheColocado)
            DibujarPatch(false);
        else
            pctImagen->setPicture(ImagenPantalla.ImagenVisible());
        setFilesChanged();
        return 1;
    } catch (...) {
        return -1;  // missing, unfinished or unreadable: the caller tries again
    }
}

void frmMain::showPlainPreview() {
    if (!ImagenPantalla.isNull()) pctImagen->setPicture(ImagenPantalla.ImagenVisible());
}

void frmMain::DibujarPatch(bool copiar) {
    if (ImagenPantalla.isNull()) return;
    try {
        ObjetoImagen copy = ImagenPantalla.Copia();
        copy.ColorLinea(kPatchColour);
        const PatchOutline o = contornoParche(patch, estado.ParcheCuadrado);
        if (estado.ParcheCuadrado)
            copy.Rectangulo(o.left, o.top, o.width, o.height);
        else
            copy.Circulo(o.cx, o.cy, o.radius);
        if (copiar) {
            copy.CopiarPortapapeles();
            return;
        }
        copy.Linea(o.cx - 4, o.cy, o.cx + 4, o.cy);
        copy.Linea(o.cx, o.cy - 4, o.cx, o.cy + 4);
        pctImagen->setPicture(copy.ImagenVisible());
    } catch (...) {
        // Drawing on a picture that could not be made leaves the preview as it is.
    }
}

void frmMain::pctImagen_MouseDown(float x, float y) {
    // A click on a result brings the RAW preview back; the patch is drawn
    // on the preview only.
    if (pctImagen->showingResult()) {
        pctImagen->dismissResult();
        return;
    }
    if (!estado.ImagenMostrada) return;
    estado.BotonPulsado = true;
    patch.PatchX0 = CorrectX(x, patch);
    patch.PatchY0 = CorrectY(y, patch);
    patch.PatchX1 = patch.PatchX0;
    patch.PatchY1 = patch.PatchY0;
}

void frmMain::pctImagen_MouseMove(float x, float y) {
    if (!estado.ImagenMostrada || pctImagen->showingResult()) return;
    const float fx = CorrectX(x, patch), fy = CorrectY(y, patch);
    auto point = [](double a, double b) {
        return QStringLiteral("(") + lecturaCoordenada(a) + QStringLiteral("%, ") +
               lecturaCoordenada(b) + QStringLiteral("%)");
    };
    if (estado.BotonPulsado) {
        patch.PatchX1 = fx;
        patch.PatchY1 = fy;
        reporter_.showProgress(point(patch.PatchX0, patch.PatchY0) + QStringLiteral(" -> ") +
                               point(patch.PatchX1, patch.PatchY1));
        DibujarPatch(false);
    } else {
        reporter_.showProgress(point(fx, fy));
    }
}

void frmMain::pctImagen_MouseUp(float x, float y) {
    if (!estado.ImagenMostrada || !estado.BotonPulsado) return;
    estado.BotonPulsado = false;
    patch.PatchX1 = CorrectX(x, patch);
    patch.PatchY1 = CorrectY(y, patch);
    estado.ParcheColocado = true;
    const QString line = quickLine();
    if (line != lblDCRAW->text()) {
        reporter_.MostrarComando(line);
        if (estado.ImagenMostrada) ReveladoRapido(txtRuta->text(), false);
    }
    selectOptWB(kWBParche);
    cmdCalculateWB->setEnabled(true);
    DibujarPatch(false);
}

void frmMain::cmdParche_Click() {
    alternarForma(patch, estado.ParcheCuadrado);
    cmdParche->setText(estado.ParcheCuadrado ? QStringLiteral("O") : QStringLiteral("[   ]"));
    estado.ParcheCuadrado = !estado.ParcheCuadrado;
    if (optWB[kWBParche]->isChecked() && estado.ParcheColocado) DibujarPatch(false);
}

void frmMain::cmdCopyClipBoard_Click() {
    if (!estado.ImagenMostrada) return;
    try {
        if (pctImagen->showingResult())
            QGuiApplication::clipboard()->setImage(pctImagen->result());
        else if (optWB[kWBParche]->isChecked() && estado.ParcheColocado)
            DibujarPatch(true);
        else
            ImagenPantalla.CopiarPortapapeles();
    } catch (...) {
        return;  // nothing on the clipboard: no box claiming otherwise
    }
    reporter_.showMessage(QStringLiteral("Orrindale"),
                          QStringLiteral("Display snapshot copied to Clipboard"));
}
