-- Embedded database of the car-park station (SQLite).
-- Every date column holds ISO 8601 text "YYYY-MM-DD hh:mm:ss" (the CHECKs
-- refuse anything else, so rows typed in by hand compare correctly).
-- Time-of-day columns (HoraInicio*, HoraFin*) hold "hh:mm:ss" or a full
-- date-time of which only the time counts.

-- Reader configuration of each installation, with the display texts.
CREATE TABLE Lector (
  CodInstalacion INTEGER NOT NULL PRIMARY KEY,
  Lectores INTEGER,
  PARKING_ENTRADA TEXT,
  PARKING_SALIDA TEXT,
  MsjOk TEXT,
  MsjIDMal TEXT,
  MsjHorarioMal TEXT,
  MsjImpagado TEXT,
  MsjBaja TEXT
);

-- Installations, with the car park's capacity and free spaces.
CREATE TABLE INSTALACIONES (
  CodInstalacion INTEGER NOT NULL PRIMARY KEY,
  Nombre TEXT,
  PLAZAS_PARKING INTEGER,
  PLAZAS_LIBRES INTEGER
);

-- Subscribers. Cursillista: 0 fee holder, 1 course holder.
CREATE TABLE ABONADOS (
  CodInstalacion INTEGER NOT NULL,
  Codigo INTEGER NOT NULL,
  Nombre TEXT,
  Cursillista INTEGER,
  FormaPago INTEGER,
  CodigoRelacion INTEGER,
  CODTARJETA TEXT,
  PRIMARY KEY (CodInstalacion, Codigo)
);
CREATE INDEX ABONADOS_TARJETA ON ABONADOS (CODTARJETA);
CREATE INDEX ABONADOS_CODIGO ON ABONADOS (Codigo, CodInstalacion);

-- Fee subscriptions; FecBaja Null while open.
CREATE TABLE MOVTOSCUOTAS1 (
  CodInstalacion INTEGER NOT NULL,
  Codigo INTEGER NOT NULL,
  FecAlta TEXT CHECK (FecAlta IS NULL OR FecAlta GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]'),
  FecBaja TEXT CHECK (FecBaja IS NULL OR FecBaja GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]'),
  CodCuota INTEGER
);
CREATE INDEX MOVTOSCUOTAS1_ABONADO ON MOVTOSCUOTAS1 (Codigo, CodInstalacion, FecAlta);

-- Fee definitions: a window per group of days (1 Monday to Thursday,
-- 4 Friday, 2 Saturday, 3 Sunday) and a monthly allowance of entries.
CREATE TABLE Cuotas (
  CodInstalacion INTEGER NOT NULL,
  CodCuota INTEGER NOT NULL,
  Descripcion TEXT,
  HoraInicio1 TEXT,
  HoraInicio2 TEXT,
  HoraInicio3 TEXT,
  HoraInicio4 TEXT,
  HoraFin1 TEXT,
  HoraFin2 TEXT,
  HoraFin3 TEXT,
  HoraFin4 TEXT,
  NUMACCESOS_MTO INTEGER,
  PRIMARY KEY (CodInstalacion, CodCuota)
);

-- Course enrolments.
CREATE TABLE MovtosCursos (
  CodInstalacion INTEGER NOT NULL,
  Codigo INTEGER NOT NULL,
  CodCurso INTEGER,
  Cobrado INTEGER
);
CREATE INDEX MOVTOSCURSOS_ABONADO ON MovtosCursos (Codigo, CodInstalacion);

-- Courses: validity period and class hours per day (1 Monday to 7 Sunday).
CREATE TABLE CURSOS (
  CodInstalacion INTEGER NOT NULL,
  CodCurso INTEGER NOT NULL,
  Descripcion TEXT,
  FecInicio TEXT CHECK (FecInicio IS NULL OR FecInicio GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]'),
  FecFin TEXT CHECK (FecFin IS NULL OR FecFin GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]'),
  FormaPago INTEGER,
  HoraInicio1 TEXT,
  HoraInicio2 TEXT,
  HoraInicio3 TEXT,
  HoraInicio4 TEXT,
  HoraInicio5 TEXT,
  HoraInicio6 TEXT,
  HoraInicio7 TEXT,
  HoraFin1 TEXT,
  HoraFin2 TEXT,
  HoraFin3 TEXT,
  HoraFin4 TEXT,
  HoraFin5 TEXT,
  HoraFin6 TEXT,
  HoraFin7 TEXT,
  PRIMARY KEY (CodInstalacion, CodCurso)
);

-- Blocks; in force while FECHA_DESBLOQUEO is Null and FECHA has come.
CREATE TABLE BLOQUEOS (
  CodInstalacion INTEGER NOT NULL,
  Codigo INTEGER NOT NULL,
  BLOQUEADO INTEGER,
  FECHA TEXT CHECK (FECHA IS NULL OR FECHA GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]'),
  FECHA_DESBLOQUEO TEXT CHECK (FECHA_DESBLOQUEO IS NULL OR FECHA_DESBLOQUEO GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]'),
  Motivo TEXT
);
CREATE INDEX BLOQUEOS_ABONADO ON BLOQUEOS (CodInstalacion, Codigo);

-- Receipts; unpaid while CodDevolucion is below 90.
CREATE TABLE Recibos (
  NumRecibo INTEGER NOT NULL PRIMARY KEY,
  CodInstalacion INTEGER NOT NULL,
  Codigo INTEGER NOT NULL,
  Importe REAL,
  FECHA TEXT CHECK (FECHA IS NULL OR FECHA GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]'),
  CodDevolucion INTEGER
);
CREATE INDEX Recibos_ABONADO ON Recibos (CodInstalacion, Codigo, CodDevolucion);

-- The facility's entry history (written by its other programs).
CREATE TABLE MOVIMIENTOS (
  CODINSTALACION INTEGER NOT NULL,
  CODIGO INTEGER NOT NULL,
  INSTALACIONABONADO INTEGER,
  FECHA TEXT CHECK (FECHA IS NULL OR FECHA GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]'),
  HORAENTRADA TEXT CHECK (HORAENTRADA IS NULL OR HORAENTRADA GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]')
);
CREATE INDEX MOVIMIENTOS_ULTIMA ON MOVIMIENTOS (CODIGO, INSTALACIONABONADO, HORAENTRADA);
CREATE INDEX MOVIMIENTOS_DIA ON MOVIMIENTOS (CODIGO, CODINSTALACION, FECHA);

-- One row per stay in the car park. HORAENTRADA is the server's date and
-- time of the insert; HORASALIDA is stamped at the exit.
CREATE TABLE Movimientos_Parking (
  CodInstalacion INTEGER NOT NULL,
  Codigo INTEGER NOT NULL,
  INSTALACIONABONADO INTEGER,
  HORAENTRADA TEXT CHECK (HORAENTRADA IS NULL OR HORAENTRADA GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]'),
  HORASALIDA TEXT CHECK (HORASALIDA IS NULL OR HORASALIDA GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]')
);
CREATE INDEX Movimientos_Parking_ABIERTOS ON Movimientos_Parking (CodInstalacion, Codigo, HORASALIDA);
CREATE TRIGGER Movimientos_Parking_HORAENTRADA AFTER INSERT ON Movimientos_Parking
  WHEN NEW.HORAENTRADA IS NULL
BEGIN
  UPDATE Movimientos_Parking SET HORAENTRADA = SYSDATE() WHERE rowid = NEW.rowid;
END;

-- Journal units already written: a workstation that replays a passage from
-- its journal writes the unit's key here in the same transaction as the
-- passage's rows, so a replay cut short after its commit is never written
-- twice. Grows by one row per passage that had to wait for the database.
CREATE TABLE DIARIO_APLICADO (
  UNIDAD TEXT NOT NULL PRIMARY KEY,
  FECHA TEXT
);
