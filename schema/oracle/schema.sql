-- The tables the car-park station reads and writes, in Oracle's dialect,
-- for reference when checking a production database. The facility's
-- management database owns most of them; the station writes only
-- Movimientos_Parking and INSTALACIONES.PLAZAS_LIBRES.

CREATE TABLE Lector (
  CodInstalacion NUMBER(5) NOT NULL PRIMARY KEY,
  Lectores NUMBER(3),
  PARKING_ENTRADA VARCHAR2(100),
  PARKING_SALIDA VARCHAR2(100),
  MsjOk VARCHAR2(40),
  MsjIDMal VARCHAR2(40),
  MsjHorarioMal VARCHAR2(40),
  MsjImpagado VARCHAR2(40),
  MsjBaja VARCHAR2(40)
);

CREATE TABLE INSTALACIONES (
  CodInstalacion NUMBER(5) NOT NULL PRIMARY KEY,
  Nombre VARCHAR2(60),
  PLAZAS_PARKING NUMBER(5),
  PLAZAS_LIBRES NUMBER(5)
);

CREATE TABLE ABONADOS (
  CodInstalacion NUMBER(5) NOT NULL,
  Codigo NUMBER(10) NOT NULL,
  Nombre VARCHAR2(100),
  Cursillista NUMBER(1),
  FormaPago NUMBER(3),
  CodigoRelacion NUMBER(10),
  CODTARJETA VARCHAR2(20),
  CONSTRAINT ABONADOS_PK PRIMARY KEY (CodInstalacion, Codigo)
);
CREATE INDEX ABONADOS_TARJETA ON ABONADOS (CODTARJETA);
CREATE INDEX ABONADOS_CODIGO ON ABONADOS (Codigo, CodInstalacion);

CREATE TABLE MOVTOSCUOTAS1 (
  CodInstalacion NUMBER(5) NOT NULL,
  Codigo NUMBER(10) NOT NULL,
  FecAlta DATE,
  FecBaja DATE,
  CodCuota NUMBER(5)
);
CREATE INDEX MOVTOSCUOTAS1_ABONADO ON MOVTOSCUOTAS1 (Codigo, CodInstalacion, FecAlta);

CREATE TABLE Cuotas (
  CodInstalacion NUMBER(5) NOT NULL,
  CodCuota NUMBER(5) NOT NULL,
  Descripcion VARCHAR2(60),
  HoraInicio1 DATE,
  HoraInicio2 DATE,
  HoraInicio3 DATE,
  HoraInicio4 DATE,
  HoraFin1 DATE,
  HoraFin2 DATE,
  HoraFin3 DATE,
  HoraFin4 DATE,
  NUMACCESOS_MTO NUMBER(5),
  CONSTRAINT Cuotas_PK PRIMARY KEY (CodInstalacion, CodCuota)
);

CREATE TABLE MovtosCursos (
  CodInstalacion NUMBER(5) NOT NULL,
  Codigo NUMBER(10) NOT NULL,
  CodCurso NUMBER(5),
  Cobrado NUMBER(1)
);
CREATE INDEX MOVTOSCURSOS_ABONADO ON MovtosCursos (Codigo, CodInstalacion);

CREATE TABLE CURSOS (
  CodInstalacion NUMBER(5) NOT NULL,
  CodCurso NUMBER(5) NOT NULL,
  Descripcion VARCHAR2(60),
  FecInicio DATE,
  FecFin DATE,
  FormaPago NUMBER(3),
  HoraInicio1 DATE,
  HoraInicio2 DATE,
  HoraInicio3 DATE,
  HoraInicio4 DATE,
  HoraInicio5 DATE,
  HoraInicio6 DATE,
  HoraInicio7 DATE,
  HoraFin1 DATE,
  HoraFin2 DATE,
  HoraFin3 DATE,
  HoraFin4 DATE,
  HoraFin5 DATE,
  HoraFin6 DATE,
  HoraFin7 DATE,
  CONSTRAINT CURSOS_PK PRIMARY KEY (CodInstalacion, CodCurso)
);

CREATE TABLE BLOQUEOS (
  CodInstalacion NUMBER(5) NOT NULL,
  Codigo NUMBER(10) NOT NULL,
  BLOQUEADO NUMBER(1),
  FECHA DATE,
  FECHA_DESBLOQUEO DATE,
  Motivo VARCHAR2(200)
);
CREATE INDEX BLOQUEOS_ABONADO ON BLOQUEOS (CodInstalacion, Codigo);

CREATE TABLE Recibos (
  NumRecibo NUMBER(10) NOT NULL PRIMARY KEY,
  CodInstalacion NUMBER(5) NOT NULL,
  Codigo NUMBER(10) NOT NULL,
  Importe NUMBER(10,2),
  FECHA DATE,
  CodDevolucion NUMBER(3)
);
CREATE INDEX Recibos_ABONADO ON Recibos (CodInstalacion, Codigo, CodDevolucion);

CREATE TABLE MOVIMIENTOS (
  CODINSTALACION NUMBER(5) NOT NULL,
  CODIGO NUMBER(10) NOT NULL,
  INSTALACIONABONADO NUMBER(5),
  FECHA DATE,
  HORAENTRADA DATE
);
CREATE INDEX MOVIMIENTOS_ULTIMA ON MOVIMIENTOS (CODIGO, INSTALACIONABONADO, HORAENTRADA);
CREATE INDEX MOVIMIENTOS_DIA ON MOVIMIENTOS (CODIGO, CODINSTALACION, FECHA);

CREATE TABLE Movimientos_Parking (
  CodInstalacion NUMBER(5) NOT NULL,
  Codigo NUMBER(10) NOT NULL,
  INSTALACIONABONADO NUMBER(5),
  HORAENTRADA DATE DEFAULT SYSDATE NOT NULL,
  HORASALIDA DATE
);
CREATE INDEX Movimientos_Parking_ABIERTOS ON Movimientos_Parking (CodInstalacion, Codigo, HORASALIDA);

-- Journal units already written: a workstation that replays a passage from
-- its journal writes the unit's key here in the same transaction as the
-- passage's rows, so a replay cut short after its commit is never written
-- twice. Grows by one row per passage that had to wait for the database.
CREATE TABLE DIARIO_APLICADO (
  UNIDAD VARCHAR2(32) NOT NULL PRIMARY KEY,
  FECHA DATE
);
