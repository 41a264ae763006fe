-- Demo installation: one car park and a dozen subscribers, each showing one
-- outcome at the entrance reader. Dates are relative to the server's clock.
INSERT INTO INSTALACIONES (CodInstalacion, Nombre, PLAZAS_PARKING, PLAZAS_LIBRES)
VALUES (1, 'POLIDEPORTIVO MUNICIPAL', 120, 37);

INSERT INTO Lector (CodInstalacion, Lectores, PARKING_ENTRADA, PARKING_SALIDA,
                    MsjOk, MsjIDMal, MsjHorarioMal, MsjImpagado, MsjBaja)
VALUES (1, 2, 'sim:entrada', 'sim:salida', 'BIENVENIDO', 'TARJETA NO VALIDA',
        'FUERA DE HORARIO', 'TIENE RECIBOS PENDIENTES', 'CUOTA NO VIGENTE');

-- Fees: 10 opens all day; 20 only in the first second of the day; 33 the
-- same narrow window with eight entries a month allowed outside it.
INSERT INTO Cuotas (CodInstalacion, CodCuota, Descripcion,
  HoraInicio1, HoraFin1, HoraInicio2, HoraFin2, HoraInicio3, HoraFin3, HoraInicio4, HoraFin4, NUMACCESOS_MTO)
VALUES (1, 10, 'LIBRE HORARIO', '00:00:00', '23:59:59', '00:00:00', '23:59:59', '00:00:00', '23:59:59', '00:00:00', '23:59:59', NULL),
       (1, 20, 'MADRUGADA', '00:00:00', '00:00:01', '00:00:00', '00:00:01', '00:00:00', '00:00:01', '00:00:00', '00:00:01', NULL),
       (1, 33, 'BONO 8 ACCESOS', '00:00:00', '00:00:01', '00:00:00', '00:00:01', '00:00:00', '00:00:01', '00:00:00', '00:00:01', 8);

-- Courses: 1 lets enrolled holders in all day once they have entered today;
-- 2 only admits a first entry in the first five minutes of the day.
INSERT INTO CURSOS (CodInstalacion, CodCurso, Descripcion, FecInicio, FecFin, FormaPago,
  HoraInicio1, HoraInicio2, HoraInicio3, HoraInicio4, HoraInicio5, HoraInicio6, HoraInicio7,
  HoraFin1, HoraFin2, HoraFin3, HoraFin4, HoraFin5, HoraFin6, HoraFin7)
VALUES (1, 1, 'NATACION', datetime(TRUNC(SYSDATE), '-1 month'), datetime(TRUNC(SYSDATE), '+1 year'), 1,
        '00:00:00', '00:00:00', '00:00:00', '00:00:00', '00:00:00', '00:00:00', '00:00:00',
        '23:59:59', '23:59:59', '23:59:59', '23:59:59', '23:59:59', '23:59:59', '23:59:59'),
       (1, 2, 'YOGA MADRUGADORES', datetime(TRUNC(SYSDATE), '-1 month'), datetime(TRUNC(SYSDATE), '+1 year'), 1,
        '00:00:00', '00:00:00', '00:00:00', '00:00:00', '00:00:00', '00:00:00', '00:00:00',
        '00:00:01', '00:00:01', '00:00:01', '00:00:01', '00:00:01', '00:00:01', '00:00:01');

INSERT INTO ABONADOS (CodInstalacion, Codigo, Nombre, Cursillista, FormaPago, CodigoRelacion, CODTARJETA)
VALUES (1, 101, 'Cuota en vigor', 0, 1, NULL, '1E240'),
       (1, 102, 'Bloqueado', 0, 1, NULL, '1E241'),
       (1, 103, 'Recibo impagado', 0, 1, NULL, '1E242'),
       (1, 104, 'Familiar con recibo impagado', 0, 1, 103, '1E243'),
       (1, 105, 'Cuota de baja', 0, 1, NULL, '1E244'),
       (1, 106, 'Fuera del horario de su cuota', 0, 1, NULL, '1E245'),
       (1, 107, 'Cursillista en clase', 1, 1, NULL, '1E246'),
       (1, 108, 'Cursillista fuera de clase', 1, 1, NULL, '1E247'),
       (1, 109, 'Entro hace un minuto', 0, 1, NULL, '1E248'),
       (1, 110, 'Sin cuota ni curso', 2, 1, NULL, '1E249'),
       (1, 111, 'Bono de 8 accesos', 0, 1, NULL, '1E24A'),
       (1, 112, 'Cursillista sin matricula', 1, 1, NULL, '1E24B');

INSERT INTO MOVTOSCUOTAS1 (CodInstalacion, Codigo, FecAlta, FecBaja, CodCuota)
VALUES (1, 101, datetime(TRUNC(SYSDATE), '-1 year'), NULL, 10),
       (1, 102, datetime(TRUNC(SYSDATE), '-1 year'), NULL, 10),
       (1, 103, datetime(TRUNC(SYSDATE), '-1 year'), NULL, 10),
       (1, 104, datetime(TRUNC(SYSDATE), '-1 year'), NULL, 10),
       (1, 105, datetime(TRUNC(SYSDATE), '-1 year'), datetime(TRUNC(SYSDATE), '-1 day'), 10),
       (1, 106, datetime(TRUNC(SYSDATE), '-1 year'), NULL, 20),
       (1, 109, datetime(TRUNC(SYSDATE), '-1 year'), NULL, 10),
       (1, 111, datetime(TRUNC(SYSDATE), '-1 year'), NULL, 33);

INSERT INTO MovtosCursos (CodInstalacion, Codigo, CodCurso, Cobrado)
VALUES (1, 107, 1, 1), (1, 108, 2, 1);

INSERT INTO BLOQUEOS (CodInstalacion, Codigo, BLOQUEADO, FECHA, FECHA_DESBLOQUEO, Motivo)
VALUES (1, 102, 1, datetime(TRUNC(SYSDATE), '-1 day'), NULL, 'Uso indebido');

INSERT INTO Recibos (NumRecibo, CodInstalacion, Codigo, Importe, FECHA, CodDevolucion)
VALUES (1, 1, 103, 35.0, datetime(TRUNC(SYSDATE), '-1 month'), 0),
       (2, 1, 101, 35.0, datetime(TRUNC(SYSDATE), '-1 month'), 95);

INSERT INTO MOVIMIENTOS (CODINSTALACION, CODIGO, INSTALACIONABONADO, FECHA, HORAENTRADA)
VALUES (1, 107, 1, TRUNC(SYSDATE), TRUNC(SYSDATE)),
       (1, 109, 1, TRUNC(SYSDATE), datetime(SYSDATE, '-1 minute')),
       (1, 111, 1, TRUNC(SYSDATE), TRUNC(SYSDATE)),
       (1, 111, 1, TRUNC(SYSDATE), TRUNC(SYSDATE));
