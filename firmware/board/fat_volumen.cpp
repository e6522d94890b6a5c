// fat_volumen.cpp: montaje de un volumen FAT16/FAT32, la caché de bloques, la FAT y la reserva
// de clusters. Orden de escritura pensado para cortes de alimentación: el FSInfo se marca
// "desconocido" antes del primer cambio de la FAT, y nunca hay dos bloques de la FAT con cambios
// a la vez (el fin de cadena de un cluster nuevo llega a la tarjeta antes que su enlace).
#include <string.h>

#include "board/fat_formato.h"
#include "board/sdfat.h"

using namespace fat;

namespace {
constexpr uint32_t kMinClustersFat16 = 4085;
constexpr uint32_t kMinClustersFat32 = 65525;
constexpr uint32_t kFinFat16 = 0xFFFFu;
constexpr uint32_t kFinFat32 = 0x0FFFFFFFu;
constexpr uint32_t kDesconocido = 0xFFFFFFFFu;
constexpr uint8_t kValida = 1;
constexpr uint8_t kSucia = 2;
}  // namespace

bool FatVolume::init(SdSpiCard* card, uint8_t part) {
  tarjeta_ = card;
  return init(part);
}

bool FatVolume::init(uint8_t part) {
  // Lo de un montaje anterior no se escribe: la tarjeta puede ser otra.
  tipo_fat_ = 0;
  clusters_ = 0;
  bloques_por_cluster_ = 0;
  memset(estado_cache_, 0, sizeof(estado_cache_));
  fsinfo_invalido_ = 0;
  bloque_fsinfo_ = 0;
  siguiente_libre_ = 2;
  ++generacion_;
  if (tarjeta_ == nullptr || part > 4) return false;
  const uint32_t bloques_tarjeta = tarjeta_->cardSize();
  if (bloques_tarjeta == 0) return false;

  uint32_t inicio = 0;
  if (part > 0) {
    const uint8_t* mbr = cacheLeer(0);
    if (mbr == nullptr || mbr[kFirma] != 0x55 || mbr[kFirma + 1] != 0xAA) return false;
    const uint8_t* e = mbr + kMbrTabla + 16 * (part - 1);
    inicio = ld_32(e + kMbrInicio);
    if ((e[0] & 0x7F) != 0 || e[kMbrTipo] == 0 || inicio == 0 || ld_32(e + kMbrTamano) == 0) return false;
    if (inicio >= bloques_tarjeta) return false;
  }
  const uint8_t* bs = cacheLeer(inicio);
  if (bs == nullptr || bs[kFirma] != 0x55 || bs[kFirma + 1] != 0xAA) return false;

  const uint8_t spc = bs[kSectoresPorCluster];
  const uint32_t reservados = ld_16(bs + kSectoresReservados);
  const uint8_t num_fats = bs[kNumFats];
  const uint32_t entradas_raiz = ld_16(bs + kEntradasRaiz);
  uint32_t total = ld_16(bs + kTotalSectores16);
  if (total == 0) total = ld_32(bs + kTotalSectores32);
  const uint32_t fat16 = ld_16(bs + kSectoresPorFat16);
  const uint32_t por_fat = fat16 != 0 ? fat16 : ld_32(bs + kSectoresPorFat32);
  if (ld_16(bs + kBytesPorSector) != SD_BLOCK_SIZE) return false;
  if (spc == 0 || (spc & (spc - 1)) != 0) return false;
  if (reservados == 0 || num_fats == 0 || num_fats > 4 || por_fat == 0 || total == 0) return false;

  // En 64 bits: un BPB corrupto no debe desbordar las cuentas.
  const uint64_t bloques_raiz = (static_cast<uint64_t>(entradas_raiz) * kTamEntrada + 511) / 512;
  const uint64_t primer_dato =
      reservados + static_cast<uint64_t>(num_fats) * por_fat + bloques_raiz;
  if (primer_dato >= total) return false;
  if (static_cast<uint64_t>(inicio) + total > bloques_tarjeta) return false;
  const uint32_t clusters = static_cast<uint32_t>((total - primer_dato) / spc);

  uint8_t tipo;
  if (clusters < kMinClustersFat16) {
    tipo = 12;
  } else if (clusters < kMinClustersFat32) {
    tipo = 16;
    if (entradas_raiz == 0 || fat16 == 0) return false;
    if (static_cast<uint64_t>(por_fat) * 256 < clusters + 2ull) return false;
  } else {
    tipo = 32;
    if (entradas_raiz != 0 || fat16 != 0) return false;
    if (static_cast<uint64_t>(por_fat) * 128 < clusters + 2ull) return false;
  }

  uint32_t inicio_fat = inicio + reservados;
  uint8_t copias = num_fats;
  uint32_t raiz = inicio + reservados + num_fats * por_fat;
  if (tipo == 32) {
    const uint16_t banderas = ld_16(bs + kBanderasExt);
    if (banderas & 0x80) {  // sin espejo: sólo la FAT activa
      const uint8_t activa = banderas & 0x0F;
      if (activa >= num_fats) return false;
      inicio_fat += activa * por_fat;
      copias = 1;
    }
    raiz = ld_32(bs + kClusterRaiz);
    if (raiz < 2 || raiz > clusters + 1) return false;
    const uint16_t fsinfo = ld_16(bs + kSectorFsInfo);
    if (fsinfo != 0 && fsinfo < reservados) bloque_fsinfo_ = inicio + fsinfo;
  }

  inicio_volumen_ = inicio;
  inicio_fat_ = inicio_fat;
  bloques_por_fat_ = por_fat;
  num_fats_ = copias;
  inicio_raiz_ = raiz;
  inicio_datos_ = inicio + static_cast<uint32_t>(primer_dato);
  entradas_raiz_ = static_cast<uint16_t>(entradas_raiz);
  bloques_por_cluster_ = spc;
  clusters_ = clusters;
  tipo_fat_ = tipo;

  if (bloque_fsinfo_ != 0) {
    // La pista de siguiente libre del FSInfo ahorra recorrer la FAT desde el principio.
    const uint8_t* fi = cacheLeer(bloque_fsinfo_);
    if (fi != nullptr && ld_32(fi) == kFsInfoFirma1 && ld_32(fi + 484) == kFsInfoFirma2) {
      const uint32_t pista = ld_32(fi + kFsInfoSiguiente);
      if (clusterValido(pista)) siguiente_libre_ = pista;
    } else {
      bloque_fsinfo_ = 0;
    }
  }
  return true;
}

// ---- Caché de bloques ------------------------------------------------------------------------

uint8_t FatVolume::buscarRanura(uint32_t bloque) const {
  for (uint8_t r = 0; r < SD_BLOQUES_CACHE; ++r) {
    if ((estado_cache_[r] & kValida) && bloque_cache_[r] == bloque) return r;
  }
  return SD_BLOQUES_CACHE;
}

// Tras un fallo la tarjeta puede haber salido o ser otra: lo leído se vuelve a leer; lo que
// tiene cambios sigue pendiente.
bool FatVolume::fallo() {
  for (uint8_t r = 0; r < SD_BLOQUES_CACHE; ++r) {
    if (estado_cache_[r] == kValida) estado_cache_[r] = 0;
  }
  return false;
}

bool FatVolume::escribirRanura(uint8_t r) {
  if ((estado_cache_[r] & (kValida | kSucia)) != (kValida | kSucia)) return true;
  // Si la escritura falla el bloque sigue pendiente: se reintenta en el siguiente vaciado (un
  // nuevo init lo descarta).
  const uint32_t b = bloque_cache_[r];
  if (tarjeta_ == nullptr || !tarjeta_->writeBlock(b, cache_[r])) return fallo();
  estado_cache_[r] = kValida;
  if (esBloqueFat(b)) {
    for (uint8_t k = 1; k < num_fats_; ++k) {
      if (!tarjeta_->writeBlock(b + k * bloques_por_fat_, cache_[r])) return fallo();
    }
  }
  return true;
}

bool FatVolume::cacheSync() {
  bool ok = true;
  for (uint8_t r = 0; r < SD_BLOQUES_CACHE; ++r) ok = escribirRanura(r) && ok;
  return ok;
}

// Una ranura vacía, si no la usada hace más tiempo entre las que no tienen cambios; sólo si todas
// los tienen se escribe una. SD_BLOQUES_CACHE si falla esa escritura.
uint8_t FatVolume::ranuraLibre() {
  uint8_t elegida = SD_BLOQUES_CACHE;
  uint32_t edad_maxima = 0;
  for (uint8_t pasada = 0; pasada < 2 && elegida == SD_BLOQUES_CACHE; ++pasada) {
    for (uint8_t r = 0; r < SD_BLOQUES_CACHE; ++r) {
      if (!(estado_cache_[r] & kValida)) return r;
      if (pasada == 0 && (estado_cache_[r] & kSucia)) continue;
      const uint32_t edad = reloj_cache_ - uso_cache_[r];
      if (elegida == SD_BLOQUES_CACHE || edad > edad_maxima) {
        elegida = r;
        edad_maxima = edad;
      }
    }
  }
  if (!escribirRanura(elegida)) return SD_BLOQUES_CACHE;
  return elegida;
}

uint8_t* FatVolume::ocuparRanura(uint8_t r, uint32_t bloque) {
  bloque_cache_[r] = bloque;
  uso_cache_[r] = ++reloj_cache_;
  ranura_actual_ = r;
  return cache_[r];
}

uint8_t* FatVolume::cacheLeer(uint32_t bloque) {
  uint8_t r = buscarRanura(bloque);
  if (r < SD_BLOQUES_CACHE) return ocuparRanura(r, bloque);
  r = ranuraLibre();
  if (r == SD_BLOQUES_CACHE) return nullptr;
  estado_cache_[r] = 0;
  if (tarjeta_ == nullptr || !tarjeta_->readBlock(bloque, cache_[r])) {
    fallo();
    return nullptr;
  }
  estado_cache_[r] = kValida;
  return ocuparRanura(r, bloque);
}

uint8_t* FatVolume::cachePreparar(uint32_t bloque) {
  uint8_t r = buscarRanura(bloque);
  if (r == SD_BLOQUES_CACHE) r = ranuraLibre();
  if (r == SD_BLOQUES_CACHE) return nullptr;
  memset(cache_[r], 0, SD_BLOCK_SIZE);
  estado_cache_[r] = kValida | kSucia;
  return ocuparRanura(r, bloque);
}

const uint8_t* FatVolume::cacheFatBlock(uint32_t block) {
  if (tipo_fat_ != 16 && tipo_fat_ != 32) return nullptr;
  if (block < inicio_fat_ || block >= inicio_fat_ + bloques_por_fat_) return nullptr;
  return cacheLeer(block);
}

// ---- FAT --------------------------------------------------------------------------------------

bool FatVolume::esFinDeCadena(uint32_t v) const {
  return tipo_fat_ == 16 ? v >= 0xFFF8u : v >= 0x0FFFFFF8u;
}

bool FatVolume::fatLeer(uint32_t cluster, uint32_t* valor) {
  if (!clusterValido(cluster) || (tipo_fat_ != 16 && tipo_fat_ != 32)) return false;
  const uint32_t desplazamiento = cluster * (tipo_fat_ == 16 ? 2u : 4u);
  const uint8_t* p = cacheLeer(inicio_fat_ + desplazamiento / SD_BLOCK_SIZE);
  if (p == nullptr) return false;
  p += desplazamiento % SD_BLOCK_SIZE;
  *valor = tipo_fat_ == 16 ? ld_16(p) : (ld_32(p) & 0x0FFFFFFFu);
  return true;
}

bool FatVolume::fatEscribir(uint32_t cluster, uint32_t valor) {
  if (!clusterValido(cluster) || (tipo_fat_ != 16 && tipo_fat_ != 32)) return false;
  const uint32_t desplazamiento = cluster * (tipo_fat_ == 16 ? 2u : 4u);
  uint8_t* p = cacheLeer(inicio_fat_ + desplazamiento / SD_BLOCK_SIZE);
  if (p == nullptr) return false;
  p += desplazamiento % SD_BLOCK_SIZE;
  // Otro bloque de la FAT con cambios se escribe antes: los cambios llegan en su orden.
  const uint8_t r = ranura_actual_;
  for (uint8_t k = 0; k < SD_BLOQUES_CACHE; ++k) {
    if (k != r && esBloqueFat(bloque_cache_[k]) && !escribirRanura(k)) return false;
  }
  if (tipo_fat_ == 16) {
    st_16(p, static_cast<uint16_t>(valor));
  } else {
    st_32(p, (ld_32(p) & 0xF0000000u) | (valor & 0x0FFFFFFFu));  // los 4 bits altos se conservan
  }
  estado_cache_[r] |= kSucia;
  return true;
}

bool FatVolume::invalidarFsInfo() {
  if (fsinfo_invalido_ || bloque_fsinfo_ == 0) return true;
  uint8_t* fi = cacheLeer(bloque_fsinfo_);
  if (fi == nullptr) return false;
  if (ld_32(fi + kFsInfoLibres) != kDesconocido || ld_32(fi + kFsInfoSiguiente) != kDesconocido) {
    st_32(fi + kFsInfoLibres, kDesconocido);
    st_32(fi + kFsInfoSiguiente, kDesconocido);
    cacheMarcarSucio();
    if (!cacheEscribirActual()) return false;
  }
  fsinfo_invalido_ = 1;
  return true;
}

bool FatVolume::reservarCluster(uint32_t anterior, uint32_t* nuevo) {
  // siguiente_libre_ = 0: la FAT ya se recorrió entera sin hallar sitio.
  if ((tipo_fat_ != 16 && tipo_fat_ != 32) || siguiente_libre_ == 0) return false;
  if (!invalidarFsInfo()) return false;
  uint32_t c = clusterValido(siguiente_libre_) ? siguiente_libre_ : 2;
  for (uint32_t n = 0; n < clusters_; ++n) {
    uint32_t v;
    if (!fatLeer(c, &v)) return false;
    if (v == 0) {
      // Primero el fin de cadena del nuevo, luego el enlace: nunca una cadena hacia basura.
      if (!fatEscribir(c, tipo_fat_ == 16 ? kFinFat16 : kFinFat32)) return false;
      if (anterior != 0 && !fatEscribir(anterior, c)) return false;
      siguiente_libre_ = (c + 1 <= clusters_ + 1) ? c + 1 : 2;
      *nuevo = c;
      return true;
    }
    c = (c + 1 <= clusters_ + 1) ? c + 1 : 2;
  }
  siguiente_libre_ = 0;
  return false;
}

int32_t FatVolume::freeClusterCount() {
  if (tipo_fat_ != 16 && tipo_fat_ != 32) return -1;
  const uint32_t por_bloque = tipo_fat_ == 16 ? 256u : 128u;
  const uint32_t entradas = clusters_ + 2;
  int32_t libres = 0;
  for (uint32_t primera = 0; primera < entradas; primera += por_bloque) {
    const uint8_t* p = cacheLeer(inicio_fat_ + primera / por_bloque);
    if (p == nullptr) return -1;
    for (uint32_t i = 0; i < por_bloque && primera + i < entradas; ++i) {
      if (primera + i < 2) continue;  // las dos entradas reservadas
      const uint32_t v = tipo_fat_ == 16 ? ld_16(p + 2 * i) : (ld_32(p + 4 * i) & 0x0FFFFFFFu);
      if (v == 0) ++libres;
    }
  }
  return libres;
}
