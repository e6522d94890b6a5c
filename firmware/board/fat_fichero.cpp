// fat_fichero.cpp: ficheros y directorios FAT16/FAT32 con nombres 8.3.
// Orden de escritura pensado para cortes de alimentación: cluster reservado en la FAT antes de
// enlazarlo, datos antes que el tamaño de la entrada, directorio nuevo escrito entero antes de
// apuntarlo desde su padre. Un corte deja como mucho clusters perdidos, nunca cadenas cruzadas.
#include <string.h>

#include "board/fat_formato.h"
#include "board/sdfat.h"

using namespace fat;

FatFile* FatFile::cwd_ = nullptr;
void (*FatFile::fecha_hora_)(uint16_t*, uint16_t*) = nullptr;

namespace {
// atributos_
constexpr uint8_t kFichero = 0x01;
constexpr uint8_t kDirectorio = 0x02;
constexpr uint8_t kRaiz = 0x04;    // sin entrada propia
constexpr uint8_t kRaiz16 = 0x08;  // zona fija del directorio raíz de FAT16
// modo_
constexpr uint8_t kLeer = 0x01;
constexpr uint8_t kEscribir = 0x02;
constexpr uint8_t kAnadir = 0x04;
constexpr uint8_t kEntradaSucia = 0x80;

// Un directorio FAT no pasa de 65536 entradas: cota ante cadenas en bucle.
constexpr uint32_t kMaxBytesDirectorio = 65536u * kTamEntrada;
constexpr uint16_t kFechaFija = (40u << 9) | (1u << 5) | 1u;  // 1-1-2020

bool esMinuscula(char c) { return c >= 'a' && c <= 'z'; }
bool esMayuscula(char c) { return c >= 'A' && c <= 'Z'; }

bool caracterValido(char c) {
  if (esMinuscula(c) || esMayuscula(c) || (c >= '0' && c <= '9')) return true;
  return strchr("$%'-_@~`!(){}^#&", c) != nullptr && c != '\0';
}

// Un componente de ruta a nombre 8.3 de disco (mayúsculas, con espacios) y sus bits de caja.
bool aNombre83(const char* s, size_t n, uint8_t nombre[11], uint8_t* caja) {
  memset(nombre, ' ', 11);
  *caja = 0;
  if (n == 0 || s[0] == '.') return false;
  size_t punto = n;
  for (size_t i = 0; i < n; ++i) {
    if (s[i] == '.') {
      if (punto != n) return false;
      punto = i;
    }
  }
  if (punto > 8 || (punto < n && (n - punto - 1 == 0 || n - punto - 1 > 3))) return false;
  bool minus[2] = {false, false};
  bool mayus[2] = {false, false};
  for (size_t i = 0; i < n; ++i) {
    if (i == punto) continue;
    const char c = s[i];
    if (!caracterValido(c)) return false;
    const int parte = i < punto ? 0 : 1;
    minus[parte] = minus[parte] || esMinuscula(c);
    mayus[parte] = mayus[parte] || esMayuscula(c);
    const size_t destino = i < punto ? i : 8 + (i - punto - 1);
    nombre[destino] = static_cast<uint8_t>(esMinuscula(c) ? c - 'a' + 'A' : c);
  }
  // Sólo una parte entera en minúsculas se puede guardar como tal sin nombre largo.
  if (minus[0] && !mayus[0]) *caja |= kCajaNombre;
  if (minus[1] && !mayus[1]) *caja |= kCajaExtension;
  return true;
}

// Las entradas que un recorrido de directorio no muestra.
bool entradaOculta(const uint8_t* e) {
  const uint8_t a = e[kDirAtributo];
  if (e[0] == kEntradaBorrada) return true;
  if ((a & kAtrNombreLargo) == kAtrNombreLargo) return true;
  if (a & kAtrEtiqueta) return true;
  return e[0] == '.';  // "." y ".."
}

void fechaHora(void (*fn)(uint16_t*, uint16_t*), uint16_t* fecha, uint16_t* hora) {
  *fecha = kFechaFija;
  *hora = 0;
  if (fn != nullptr) fn(fecha, hora);
}

void rellenarEntrada(uint8_t* e, const uint8_t nombre[11], uint8_t caja, uint8_t atributo,
                     uint32_t cluster, uint16_t fecha, uint16_t hora) {
  memset(e, 0, kTamEntrada);
  memcpy(e + kDirNombre, nombre, 11);
  e[kDirAtributo] = atributo;
  e[kDirCaja] = caja;
  st_16(e + kDirHoraCreacion, hora);
  st_16(e + kDirFechaCreacion, fecha);
  st_16(e + kDirFechaAcceso, fecha);
  st_16(e + kDirHoraEscritura, hora);
  st_16(e + kDirFechaEscritura, fecha);
  st_16(e + kDirClusterAlto, static_cast<uint16_t>(cluster >> 16));
  st_16(e + kDirClusterBajo, static_cast<uint16_t>(cluster));
}

// Recorre una ruta componente a componente.
struct Ruta {
  const char* p;
  const char* inicio;
  size_t largo;
  bool ultimo;        // no quedan más componentes
  bool barra_final;   // "dir/": el último componente ha de ser un directorio
  bool siguiente() {
    while (*p == '/') ++p;
    if (*p == '\0') return false;
    inicio = p;
    while (*p != '\0' && *p != '/') ++p;
    largo = static_cast<size_t>(p - inicio);
    const char* q = p;
    while (*q == '/') ++q;
    ultimo = *q == '\0';
    barra_final = ultimo && q != p;
    return true;
  }
};
}  // namespace

// ---- Utilidades internas ----------------------------------------------------------------------

bool FatFile::vigente() const {
  return atributos_ != 0 && volumen_ != nullptr && volumen_->generacion_ == generacion_ &&
         (volumen_->tipo_fat_ == 16 || volumen_->tipo_fat_ == 32);
}

uint32_t FatFile::bytesPorCluster() const {
  return static_cast<uint32_t>(volumen_->bloques_por_cluster_) * SD_BLOCK_SIZE;
}

bool FatFile::clusterDeIndice(uint32_t indice, bool crear, uint32_t* cluster) {
  FatVolume* v = volumen_;
  if (primer_cluster_ == 0) {
    if (!crear || indice != 0) return false;
    uint32_t nuevo;
    if (!v->reservarCluster(0, &nuevo)) return false;
    primer_cluster_ = nuevo;
    modo_ |= kEntradaSucia;
    cluster_actual_ = nuevo;
    indice_cluster_ = 0;
    *cluster = nuevo;
    return true;
  }
  if (cluster_actual_ == 0 || indice < indice_cluster_) {
    cluster_actual_ = primer_cluster_;
    indice_cluster_ = 0;
  }
  while (indice_cluster_ < indice) {
    if (indice_cluster_ >= v->clusters_) return false;  // cadena en bucle
    uint32_t siguiente;
    if (!v->fatLeer(cluster_actual_, &siguiente)) return false;
    if (v->esFinDeCadena(siguiente)) {
      if (!crear || indice_cluster_ + 1 != indice) return false;
      if (!v->reservarCluster(cluster_actual_, &siguiente)) return false;
    } else if (!v->clusterValido(siguiente)) {
      return false;  // libre, reservado o defectuoso dentro de una cadena: corrupta
    }
    cluster_actual_ = siguiente;
    ++indice_cluster_;
  }
  *cluster = cluster_actual_;
  return true;
}

bool FatFile::bloqueDePosicion(uint32_t pos, bool crear, uint32_t* bloque) {
  if (atributos_ & kRaiz16) {
    if (pos >= static_cast<uint32_t>(volumen_->entradas_raiz_) * kTamEntrada) return false;
    *bloque = volumen_->inicio_raiz_ + pos / SD_BLOCK_SIZE;
    return true;
  }
  if ((atributos_ & kDirectorio) && pos >= kMaxBytesDirectorio) return false;
  const uint32_t bpc = bytesPorCluster();
  uint32_t c;
  if (!clusterDeIndice(pos / bpc, crear, &c)) return false;
  *bloque = volumen_->bloqueDeCluster(c) + (pos % bpc) / SD_BLOCK_SIZE;
  return true;
}

// Recorre la cadena entera (con cota) y deja el último cluster como posición conocida. Falla si
// la cadena está rota, en bucle o es más corta de lo que pide el tamaño.
bool FatFile::comprobarCadena(uint32_t* ultimo) {
  FatVolume* v = volumen_;
  *ultimo = 0;
  if (primer_cluster_ == 0) return tamano_ == 0;
  uint32_t c = primer_cluster_;
  uint32_t n = 0;
  for (;;) {
    uint32_t siguiente;
    if (!v->fatLeer(c, &siguiente)) return false;
    if (v->esFinDeCadena(siguiente)) break;
    if (!v->clusterValido(siguiente) || ++n >= v->clusters_) return false;
    c = siguiente;
  }
  const uint32_t bpc = bytesPorCluster();
  if (static_cast<uint64_t>(n + 1) * bpc < tamano_) return false;
  cluster_actual_ = c;
  indice_cluster_ = n;
  *ultimo = c;
  return true;
}

bool FatFile::buscar(const uint8_t nombre[11], uint8_t* entrada, uint32_t* bloque,
                     uint8_t* indice) {
  for (uint32_t pos = 0;; pos += kTamEntrada) {
    uint32_t b;
    if (!bloqueDePosicion(pos, false, &b)) return false;
    const uint8_t* p = volumen_->cacheLeer(b);
    if (p == nullptr) return false;
    const uint8_t* e = p + pos % SD_BLOCK_SIZE;
    if (e[0] == kEntradaLibre) return false;
    if (entradaOculta(e)) continue;
    // 0x05 en disco es 0xE5 en el nombre
    if ((e[0] == 0x05 ? 0xE5 : e[0]) != nombre[0] || memcmp(e + 1, nombre + 1, 10) != 0) continue;
    memcpy(entrada, e, kTamEntrada);
    *bloque = b;
    *indice = static_cast<uint8_t>((pos % SD_BLOCK_SIZE) / kTamEntrada);
    return true;
  }
}

// Escribe una entrada nueva en este directorio: en un hueco libre o, si no queda, en un cluster
// nuevo que se pone a cero antes de enlazarlo a la cadena del directorio.
bool FatFile::crearEntrada(const uint8_t nombre[11], uint8_t caja, uint8_t atributo,
                           uint32_t cluster, uint32_t* bloque, uint8_t* indice) {
  FatVolume* v = volumen_;
  uint32_t b = 0;
  uint32_t pos = 0;
  bool hueco = false;
  for (;; pos += kTamEntrada) {
    if (!bloqueDePosicion(pos, false, &b)) break;
    const uint8_t* p = v->cacheLeer(b);
    if (p == nullptr) return false;
    const uint8_t e0 = p[pos % SD_BLOCK_SIZE];
    if (e0 == kEntradaLibre || e0 == kEntradaBorrada) {
      hueco = true;
      break;
    }
  }
  if (!hueco) {
    if ((atributos_ & kRaiz16) || pos >= kMaxBytesDirectorio) return false;
    uint32_t ultimo;
    if (!comprobarCadena(&ultimo) || ultimo == 0) return false;
    uint32_t nuevo;
    if (!v->reservarCluster(0, &nuevo)) return false;
    const uint32_t primero = v->bloqueDeCluster(nuevo);
    for (uint8_t i = 0; i < v->bloques_por_cluster_; ++i) {
      if (v->cachePreparar(primero + i) == nullptr) return false;
    }
    if (!v->cacheSync() || !v->fatEscribir(ultimo, nuevo)) return false;
    b = primero;
    pos = 0;
  }
  uint8_t* p = v->cacheLeer(b);
  if (p == nullptr) return false;
  uint8_t* e = p + pos % SD_BLOCK_SIZE;
  uint8_t antes[kTamEntrada];
  memcpy(antes, e, kTamEntrada);
  uint16_t fecha, hora;
  fechaHora(fecha_hora_, &fecha, &hora);
  rellenarEntrada(e, nombre, caja, atributo, cluster, fecha, hora);
  v->cacheMarcarSucio();
  if (!v->cacheSync()) {
    // Una entrada que no llegó a la tarjeta no se ve: ninguna búsqueda la halla en la caché.
    if (v->cachePendiente(b)) memcpy(e, antes, kTamEntrada);
    return false;
  }
  *bloque = b;
  *indice = static_cast<uint8_t>((pos % SD_BLOCK_SIZE) / kTamEntrada);
  return true;
}

// Un fichero aún sin abrir sobre la entrada (bloque, indice) del volumen, con su primer cluster.
FatFile FatFile::deEntrada(FatVolume* vol, uint32_t cluster, uint32_t bloque, uint8_t indice) {
  FatFile f;
  f.volumen_ = vol;
  f.generacion_ = vol->generacion_;
  f.primer_cluster_ = cluster;
  f.bloque_entrada_ = bloque;
  f.indice_entrada_ = indice;
  return f;
}

bool FatFile::abrirEntrada(FatVolume* vol, uint32_t bloque, uint8_t indice,
                           const uint8_t* entrada, oflag_t oflag) {
  const uint8_t atributo = entrada[kDirAtributo];
  uint32_t cluster = ld_16(entrada + kDirClusterBajo);
  if (vol->tipo_fat_ == 32) cluster |= static_cast<uint32_t>(ld_16(entrada + kDirClusterAlto)) << 16;
  const uint8_t acceso = oflag & O_ACCMODE;
  if (acceso == O_ACCMODE) return false;
  if (cluster != 0 && !vol->clusterValido(cluster)) return false;

  FatFile f = deEntrada(vol, cluster, bloque, indice);
  if (atributo & kAtrDirectorio) {
    if (acceso != O_RDONLY || cluster == 0) return false;
    f.atributos_ = kDirectorio;
    f.modo_ = kLeer;
  } else {
    if (acceso != O_RDONLY && (atributo & kAtrSoloLectura)) return false;
    f.atributos_ = kFichero;
    f.tamano_ = ld_32(entrada + kDirTamano);
    if (f.tamano_ != 0 && cluster == 0) return false;
    f.modo_ = acceso == O_RDONLY ? kLeer : (acceso == O_WRONLY ? kEscribir : kLeer | kEscribir);
    if (oflag & O_APPEND) f.modo_ |= kAnadir;
    if (f.modo_ & kEscribir) {
      uint32_t ultimo;
      if (!f.comprobarCadena(&ultimo)) return false;
      if ((oflag & O_TRUNC) && !f.truncarACero()) return false;
    }
  }
  *this = f;
  return true;
}

bool FatFile::truncarACero() {
  FatVolume* v = volumen_;
  uint32_t c = primer_cluster_;
  if (c == 0 && tamano_ == 0) return true;
  // La entrada deja de apuntar a la cadena antes de liberarla: un corte sólo pierde clusters.
  primer_cluster_ = 0;
  cluster_actual_ = 0;
  indice_cluster_ = 0;
  tamano_ = 0;
  posicion_ = 0;
  modo_ |= kEntradaSucia;
  if (!sync() || !v->invalidarFsInfo()) return false;
  for (uint32_t n = 0; v->clusterValido(c) && n < v->clusters_; ++n) {
    uint32_t siguiente;
    if (!v->fatLeer(c, &siguiente) || !v->fatEscribir(c, 0)) return false;
    if (v->esFinDeCadena(siguiente)) break;
    c = siguiente;
  }
  if (v->siguiente_libre_ == 0) v->siguiente_libre_ = 2;  // vuelve a haber sitio
  return v->cacheSync();
}

bool FatFile::crearDirectorio(FatFile* padre, const uint8_t nombre[11], uint8_t caja) {
  FatVolume* v = padre->volumen_;
  uint32_t c;
  if (!v->reservarCluster(0, &c)) return false;
  uint16_t fecha, hora;
  fechaHora(fecha_hora_, &fecha, &hora);
  const uint32_t primero = v->bloqueDeCluster(c);
  for (uint8_t i = 0; i < v->bloques_por_cluster_; ++i) {
    uint8_t* p = v->cachePreparar(primero + i);
    if (p == nullptr) return false;
    if (i == 0) {
      uint8_t punto[11];
      memset(punto, ' ', sizeof(punto));
      punto[0] = '.';
      rellenarEntrada(p, punto, 0, kAtrDirectorio, c, fecha, hora);
      punto[1] = '.';
      // ".." apunta a 0 cuando el padre es la raíz
      const uint32_t arriba = (padre->atributos_ & kRaiz) ? 0 : padre->primer_cluster_;
      rellenarEntrada(p + kTamEntrada, punto, 0, kAtrDirectorio, arriba, fecha, hora);
    }
  }
  uint32_t bloque;
  uint8_t indice;
  if (!v->cacheSync() || !padre->crearEntrada(nombre, caja, kAtrDirectorio, c, &bloque, &indice)) {
    v->fatEscribir(c, 0);  // se devuelve el cluster; si tampoco se puede, queda perdido
    v->cacheSync();
    return false;
  }
  FatFile f = deEntrada(v, c, bloque, indice);
  f.atributos_ = kDirectorio;
  f.modo_ = kLeer;
  *this = f;
  return true;
}

// ---- Interfaz pública -------------------------------------------------------------------------

bool FatFile::openRoot(FatVolume* vol) {
  if (isOpen()) close();
  if (vol == nullptr || (vol->tipo_fat_ != 16 && vol->tipo_fat_ != 32)) return false;
  FatFile f;
  f.volumen_ = vol;
  f.generacion_ = vol->generacion_;
  f.atributos_ = kDirectorio | kRaiz | (vol->tipo_fat_ == 16 ? kRaiz16 : 0);
  f.modo_ = kLeer;
  f.primer_cluster_ = vol->tipo_fat_ == 32 ? vol->inicio_raiz_ : 0;
  *this = f;
  return true;
}

// El componente (inicio, largo) de una ruta como nombre 8.3, buscado en este directorio; false si
// no es un nombre 8.3 válido.
bool FatFile::buscarComponente(const char* inicio, size_t largo, Componente* c) {
  static_assert(sizeof c->entrada == kTamEntrada, "una entrada de directorio");
  if (!aNombre83(inicio, largo, c->nombre, &c->caja)) return false;
  c->hallado = buscar(c->nombre, c->entrada, &c->bloque, &c->indice);
  return true;
}

// Comprueba dir y path, cierra este fichero y deja en actual el directorio desde el que se recorre
// path: la raíz del volumen si empieza por '/', si no dir.
bool FatFile::prepararRuta(FatFile* dir, const char* path, FatFile* actual) {
  if (dir == nullptr || path == nullptr || dir == this || !dir->vigente() || !dir->isDir()) {
    return false;
  }
  if (isOpen()) close();
  if (*path == '/') return actual->openRoot(dir->volumen_);
  *actual = *dir;
  return true;
}

bool FatFile::open(FatFile* dir, const char* path, oflag_t oflag) {
  FatFile actual;
  if (!prepararRuta(dir, path, &actual)) return false;
  const uint8_t acceso = oflag & O_ACCMODE;
  Ruta ruta{path, path, 0, false, false};
  while (ruta.siguiente()) {
    Componente c;
    if (!actual.buscarComponente(ruta.inicio, ruta.largo, &c)) return false;
    if (!ruta.ultimo) {
      if (!c.hallado || !(c.entrada[kDirAtributo] & kAtrDirectorio)) return false;
      FatFile sub;
      if (!sub.abrirEntrada(actual.volumen_, c.bloque, c.indice, c.entrada, O_RDONLY)) return false;
      actual = sub;
      continue;
    }
    if (c.hallado) {
      if ((oflag & O_CREAT) && (oflag & O_EXCL)) return false;
      if (ruta.barra_final && !(c.entrada[kDirAtributo] & kAtrDirectorio)) return false;
      return abrirEntrada(actual.volumen_, c.bloque, c.indice, c.entrada, oflag);
    }
    if (!(oflag & O_CREAT) || acceso == O_RDONLY || ruta.barra_final) return false;
    if (!actual.crearEntrada(c.nombre, c.caja, kAtrArchivo, 0, &c.bloque, &c.indice)) return false;
    const uint8_t* p = actual.volumen_->cacheLeer(c.bloque);
    if (p == nullptr) return false;
    memcpy(c.entrada, p + c.indice * kTamEntrada, kTamEntrada);
    return abrirEntrada(actual.volumen_, c.bloque, c.indice, c.entrada, oflag & ~O_TRUNC);
  }
  // Ruta sin componentes ("/", ""): el propio directorio de partida.
  if (acceso != O_RDONLY) return false;
  actual.posicion_ = 0;
  *this = actual;
  return true;
}

bool FatFile::open(const char* path, oflag_t oflag) {
  if (cwd_ == nullptr) return false;
  return open(cwd_, path, oflag);
}

bool FatFile::exists(const char* path) {
  FatFile f;
  return f.open(this, path, O_RDONLY);
}

bool FatFile::mkdir(FatFile* parent, const char* path, bool pFlag) {
  FatFile actual;
  if (!prepararRuta(parent, path, &actual)) return false;
  Ruta ruta{path, path, 0, false, false};
  while (ruta.siguiente()) {
    Componente c;
    if (!actual.buscarComponente(ruta.inicio, ruta.largo, &c)) return false;
    FatFile sub;
    if (ruta.ultimo) {
      if (c.hallado || !sub.crearDirectorio(&actual, c.nombre, c.caja)) return false;
      *this = sub;
      return true;
    }
    if (c.hallado) {
      if (!(c.entrada[kDirAtributo] & kAtrDirectorio)) return false;
      if (!sub.abrirEntrada(actual.volumen_, c.bloque, c.indice, c.entrada, O_RDONLY)) return false;
    } else if (!pFlag || !sub.crearDirectorio(&actual, c.nombre, c.caja)) {
      return false;
    }
    actual = sub;
  }
  return false;
}

bool FatFile::openNext(FatFile* dir, oflag_t oflag) {
  if (dir == nullptr || dir == this || !dir->vigente() || !dir->isDir()) return false;
  if (isOpen()) close();
  for (;;) {
    const uint32_t pos = dir->posicion_;
    uint32_t b;
    if (!dir->bloqueDePosicion(pos, false, &b)) return false;
    const uint8_t* p = dir->volumen_->cacheLeer(b);
    if (p == nullptr) return false;
    uint8_t entrada[kTamEntrada];
    memcpy(entrada, p + pos % SD_BLOCK_SIZE, kTamEntrada);
    if (entrada[0] == kEntradaLibre) return false;
    dir->posicion_ = pos + kTamEntrada;
    if (entradaOculta(entrada)) continue;
    return abrirEntrada(dir->volumen_, b, static_cast<uint8_t>((pos % SD_BLOCK_SIZE) / kTamEntrada),
                        entrada, oflag);
  }
}

bool FatFile::getName(char* name, size_t size) {
  if (name == nullptr || size == 0) return false;
  name[0] = '\0';
  if (!vigente()) return false;
  if (atributos_ & kRaiz) {
    if (size < 2) return false;
    name[0] = '/';
    name[1] = '\0';
    return true;
  }
  const uint8_t* p = volumen_->cacheLeer(bloque_entrada_);
  if (p == nullptr) return false;
  const uint8_t* e = p + indice_entrada_ * kTamEntrada;
  char texto[13];
  size_t n = 0;
  for (uint8_t i = 0; i < 11; ++i) {
    char c = static_cast<char>(i == 0 && e[0] == 0x05 ? 0xE5 : e[i]);
    if (c == ' ') continue;
    if (i >= 8 && (n == 0 || memchr(texto, '.', n) == nullptr)) texto[n++] = '.';
    const bool minus = e[kDirCaja] & (i < 8 ? kCajaNombre : kCajaExtension);
    if (minus && esMayuscula(c)) c = static_cast<char>(c - 'A' + 'a');
    texto[n++] = c;
  }
  if (n == 0 || n + 1 > size) return false;
  texto[n] = '\0';
  memcpy(name, texto, n + 1);
  return true;
}

int FatFile::read() {
  uint8_t b;
  return read(&b, 1) == 1 ? b : -1;
}

int FatFile::read(void* buf, size_t nbyte) {
  if (!vigente() || !(modo_ & kLeer) || buf == nullptr) return -1;
  uint8_t* dst = static_cast<uint8_t*>(buf);
  if (isFile()) {
    const uint32_t quedan = tamano_ > posicion_ ? tamano_ - posicion_ : 0;
    if (nbyte > quedan) nbyte = quedan;
  }
  size_t hecho = 0;
  while (hecho < nbyte) {
    uint32_t b;
    if (!bloqueDePosicion(posicion_, false, &b)) break;
    const uint8_t* p = volumen_->cacheLeer(b);
    if (p == nullptr) break;
    const uint32_t off = posicion_ % SD_BLOCK_SIZE;
    size_t k = SD_BLOCK_SIZE - off;
    if (k > nbyte - hecho) k = nbyte - hecho;
    memcpy(dst + hecho, p + off, k);
    hecho += k;
    posicion_ += static_cast<uint32_t>(k);
  }
  if (hecho == 0 && nbyte != 0) return -1;
  return static_cast<int>(hecho);
}

int FatFile::write(const void* buf, size_t nbyte) {
  if (!vigente() || !isFile() || !(modo_ & kEscribir) || buf == nullptr) return -1;
  if ((modo_ & kAnadir) && posicion_ != tamano_ && !seekSet(tamano_)) return -1;
  const uint8_t* src = static_cast<const uint8_t*>(buf);
  size_t hecho = 0;
  while (hecho < nbyte && posicion_ != 0xFFFFFFFFu) {  // tope de 4 GB de FAT
    uint32_t b;
    if (!bloqueDePosicion(posicion_, true, &b)) break;
    const uint32_t off = posicion_ % SD_BLOCK_SIZE;
    // Un bloque que empieza más allá del final no se lee: su contenido viejo no cuenta.
    uint8_t* p = (off == 0 && posicion_ >= tamano_) ? volumen_->cachePreparar(b)
                                                     : volumen_->cacheLeer(b);
    if (p == nullptr) break;
    size_t k = SD_BLOCK_SIZE - off;
    if (k > nbyte - hecho) k = nbyte - hecho;
    if (k > 0xFFFFFFFFu - posicion_) k = 0xFFFFFFFFu - posicion_;
    memcpy(p + off, src + hecho, k);
    volumen_->cacheMarcarSucio();
    // Un bloque lleno ya no cambia: se escribe ahora y no ocupa la caché hasta la sincronización.
    if (off + k == SD_BLOCK_SIZE) volumen_->cacheSoltarActual();
    hecho += k;
    posicion_ += static_cast<uint32_t>(k);
    if (posicion_ > tamano_) {
      tamano_ = posicion_;
      modo_ |= kEntradaSucia;
    }
  }
  if (hecho == 0 && nbyte != 0) return -1;
  return static_cast<int>(hecho);
}

bool FatFile::seekSet(uint32_t pos) {
  if (!vigente()) return false;
  if (isFile() && pos > tamano_) return false;
  posicion_ = pos;
  return true;
}

bool FatFile::sync() {
  if (!isOpen() || isDir()) return true;  // un directorio no deja nada pendiente
  if (!vigente()) return false;
  FatVolume* v = volumen_;
  if ((modo_ & kEntradaSucia) && bloque_entrada_ != 0) {
    // Los datos y la FAT llegan a la tarjeta antes que el tamaño que los cuenta.
    if (!v->cacheSync()) return false;
    uint8_t* p = v->cacheLeer(bloque_entrada_);
    if (p == nullptr) return false;
    uint8_t* e = p + indice_entrada_ * kTamEntrada;
    if (e[0] == kEntradaLibre || e[0] == kEntradaBorrada) return false;
    uint16_t fecha, hora;
    fechaHora(fecha_hora_, &fecha, &hora);
    st_16(e + kDirClusterAlto, static_cast<uint16_t>(v->tipo_fat_ == 32 ? primer_cluster_ >> 16 : 0));
    st_16(e + kDirClusterBajo, static_cast<uint16_t>(primer_cluster_));
    st_32(e + kDirTamano, tamano_);
    st_16(e + kDirHoraEscritura, hora);
    st_16(e + kDirFechaEscritura, fecha);
    st_16(e + kDirFechaAcceso, fecha);
    e[kDirAtributo] |= kAtrArchivo;
    v->cacheMarcarSucio();
    modo_ &= static_cast<uint8_t>(~kEntradaSucia);
  }
  return v->cacheSync();
}

bool FatFile::close() {
  const bool ok = sync();
  *this = FatFile();
  return ok;
}

bool FatFile::isDir() const { return (atributos_ & kDirectorio) != 0; }
bool FatFile::isFile() const { return (atributos_ & kFichero) != 0; }
