// ficheros_sd.cpp: el directorio del día, la recuperación de su fichero RES y la creación de los
// ficheros RAW, WAV y RES.
#include <string.h>

#include "board/placa.h"
#include "settings/virtual_e2prom.h"
#include "storage/gestion_sd.h"
#include "waves/waves.h"

#define ENTRADAS_MAXIMAS_BUSQUEDA_RES 5
#define TAM_NOMBRE_ENTRADA 13  // 8.3 y el NUL
#define SANGRIA_AVISOS "\t\t\t\t\t\t\t\t\t\t\t\t\t\t"

static String* const pnombre_tipo[NUMERO_TIPOS_FICHERO] = {&NOMBRE_FICHERO_RAW, &NOMBRE_FICHERO_WAV,
                                                            &NOMBRE_FICHERO_RES};
static File* const pfichero_tipo[NUMERO_TIPOS_FICHERO] = {&ffichero_raw, &ffichero_wav, &ffichero_res};

// Abre "/" + Sdirectorio + "/" en directorio; false si no existe o no es un directorio.
static bool abrir_directorio_del_dia(FatFile& directorio) {
  if (Sdirectorio.length() == 0) return false;
  String ruta = String("/") + Sdirectorio + "/";
  if (!directorio.open(miSD.vwd(), ruta.c_str(), O_RDONLY)) return false;
  if (directorio.isDir()) return true;
  directorio.close();
  return false;
}

static bool existe_directorio_del_dia() {
  FatFile directorio;
  bool bexiste = abrir_directorio_del_dia(directorio);
  directorio.close();
  return bexiste;
}

// Todos los estados a un valor; los RAW y WAV que queden sin dueño se cierran para no perderlos.
static void fijar_estados(uint8_t cestado) {
  if (cestado == FICHERO_NINGUNO) {
    if (ffichero_raw.isOpen()) ffichero_raw.close();
    if (ffichero_wav.isOpen()) ffichero_wav.close();
  }
  for (uint8_t t = 0; t < NUMERO_TIPOS_FICHERO; ++t) ccreacion_nuevo_fichero[t] = cestado;
}

void creacion_nuevo_directorio() {
  Serial1.print("Intento creacion directorio numero: ");
  Serial1.println(Intentos_Creacion_Directorio);
  Intentos_Creacion_Directorio = uint16_t(Intentos_Creacion_Directorio + 1);
  if (Intentos_Creacion_Directorio > MAXIMO_INTENTOS_CREACION) {
    // Último intento: si también falla, no se pide más hasta el próximo arranque o día.
    NOMBRE_FICHERO_RAW = "";
    NOMBRE_FICHERO_WAV = "";
    NOMBRE_FICHERO_RES = "";
    ccreacion_nuevo_directorio = 0;
    fijar_estados(FICHERO_NINGUNO);
  }

  nombre_directorio_del_dia();

  if (existe_directorio_del_dia() && miSD.exists(Sdirectorio.c_str())) {
    Serial1.println("Directorio ya existe");
    ccreacion_nuevo_directorio = 0;
    recuperar_fichero_RES_si_existe();
    return;
  }

  if (espacio_ocupado_SD() < CTE_LIMITE_MAX_USO_SD) {
    if (miSD.mkdir(Sdirectorio.c_str(), true)) {
      Serial1.print("Nuevo directorio creado: ");
      Serial1.println(Sdirectorio);
      ccreacion_nuevo_directorio = 0;
      fijar_estados(FICHERO_POR_CREAR);
    } else {
      Serial1.println("Error creando directorio.");
    }
    return;
  }

  Serial1.println("Límite máximo de memoria SD superado.");
  ccreacion_nuevo_directorio = 0;
  fijar_estados(FICHERO_NINGUNO);
}

static bool es_nombre_res(const char* pcnombre) {
  size_t ilongitud = strlen(pcnombre);
  if (ilongitud < 3) return false;
  const char* pcfinal = pcnombre + ilongitud - 3;
  return strcmp(pcfinal, "res") == 0 || strcmp(pcfinal, "RES") == 0;
}

void recuperar_fichero_RES_si_existe() {
  FatFile directorio;
  if (!abrir_directorio_del_dia(directorio)) return;

  FatFile entrada;
  for (uint8_t cvistas = 0; cvistas < ENTRADAS_MAXIMAS_BUSQUEDA_RES; ++cvistas) {
    if (!entrada.openNext(&directorio, O_RDONLY)) break;
    if (entrada.isDir()) {
      entrada.close();
      continue;
    }
    char cnombre[TAM_NOMBRE_ENTRADA] = {0};
    bool bnombre = entrada.getName(cnombre, sizeof cnombre);
    entrada.close();
    if (bnombre && es_nombre_res(cnombre)) {
      NOMBRE_FICHERO_RES = String("/") + Sdirectorio + "/" + cnombre;
      Serial1.print("Fichero RES localizado: ");
      Serial1.println(NOMBRE_FICHERO_RES);
      ccreacion_nuevo_fichero[FICHERO_RES] = FICHERO_EN_USO;
      directorio.close();
      return;
    }
  }
  directorio.close();
  Serial1.println("Fichero RES NO localizado.");
  ccreacion_nuevo_fichero[FICHERO_RES] = FICHERO_POR_CREAR;
}

void creacion_nuevo_fichero(uint8_t ctipo) {
  if (ctipo >= NUMERO_TIPOS_FICHERO) return;
  const bool bdirectorio = existe_directorio_del_dia();
  const bool bexiste = Sdirectorio.length() > 0 && miSD.exists(Sdirectorio.c_str());
  Serial1.print("Entra en la creacion de fichero: ");
  Serial1.print(ctipo);
  Serial1.print(bexiste ? 1 : 0);
  Serial1.println(bdirectorio ? 1 : 0);
  linea();

  Serial1.print("Intento creacion fichero numero: ");
  Serial1.println(Intentos_Creacion_Fichero);
  Intentos_Creacion_Fichero = uint16_t(Intentos_Creacion_Fichero + 1);
  if (Intentos_Creacion_Fichero > MAXIMO_INTENTOS_CREACION) ccreacion_nuevo_fichero[ctipo] = FICHERO_NINGUNO;

  if (!bdirectorio || !bexiste) {
    *pnombre_tipo[ctipo] = "";
    return;
  }

  String ruta = nombre_fichero_nuevo(ctipo);
  if (miSD.exists(ruta.c_str())) {
    Serial1.print("Fichero existente: ");
    Serial1.println(ruta);
  }

  // El fichero anterior de este tipo (el del día anterior, al cambiar de día) se cierra antes:
  // abierto y sin sincronizar perdería sus últimos registros.
  File& fichero = *pfichero_tipo[ctipo];
  if (fichero.isOpen()) fichero.close();
  fichero = miSD.open(ruta.c_str(), O_ESCRITURA_SD);
  *pnombre_tipo[ctipo] = ruta;
  ccreacion_nuevo_fichero[ctipo] = FICHERO_EN_USO;

  const bool bcreado = miSD.exists(ruta.c_str());
  if (ctipo == FICHERO_RAW) {
    ContNumPtosOla = 0;
    ContadorNumeroFicheros = uint16_t(ContadorNumeroFicheros + 1);
    if (ContadorNumeroFicheros > CTE_NUMERO_MAXIMO_FICHEROS) {
      Serial1.print(SANGRIA_AVISOS "==> Prohibida la escritura en SD por Nº Ficheros superado:");
      Serial1.println(ContadorNumeroFicheros);
      ContadorNumeroFicheros = 0;
      CTE_PERMITIR_ESCRITURA_SD = 0;
    }
  } else if (ctipo == FICHERO_RES && bcreado) {
    fichero.close();  // el RES sólo se abre para cada registro
  }

  if (bcreado) Serial1.print("- ");
  Serial1.print("Nuevo fichero creado:");
  Serial1.println(ruta);
}
